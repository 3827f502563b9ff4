#pragma once

#include <windows.h>

// Export: deletes the installer's service "qzInstaller"; 0 when it is gone, else the service-control code.
extern "C" DWORD WINAPI removeService();
