#pragma once

// Points one import of a loaded module at a replacement for the life of the object, so that a test can
// make a single Windows call fail the way Wine's service manager never does (no ACLs, no remote machines).

#include "ImportHook.h"

class ImportRedirect : public ImportHook {
public:
    using ImportHook::ImportHook;

    // False when the module does not import the function by name.
    bool active() const { return Active(); }
};
