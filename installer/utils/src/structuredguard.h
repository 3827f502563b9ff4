#pragma once

// Runs work so that a structured exception raised inside it (an access violation, an error raised by a
// system call) ends the work instead of the process. False when one did; the work is then cut short
// where it stood, so whatever it must release is owned outside it.
bool runGuarded(void (*work)(void* context), void* context);
