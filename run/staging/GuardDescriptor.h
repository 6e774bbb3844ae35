// The descriptor the staging guard gives the staging directory and each
// staged file.
#pragma once
#include <windows.h>

// The guard's descriptor: SYSTEM and Administrators keep full control (the
// elevated program reads and runs its files and may write its own, a log); the
// owner, the user when the launcher is not elevated, may read and run, and the
// OWNER RIGHTS entry takes its implicit right to change the descriptor. Nothing
// is inherited from the temporary directory, where the user has full control;
// what the program creates in the directory inherits its entries. For a
// launcher that is not elevated, what the program creates also inherits an
// entry that lets the user who runs the launcher list, unmark and delete it,
// so that the launcher can clean up after the program: it gives no right to
// add, write or rename anything.
struct LockedDescriptor {
    SECURITY_DESCRIPTOR descriptor;
    DWORD acl[128];  // the ACL the descriptor points to; DWORD-aligned
};

// folder: the directory's descriptor, whose entries what is made in it
// inherits; cleanedUpByUser: with the user's entry for the clean-up.
bool buildLockedDescriptor(LockedDescriptor& locked, bool folder, bool cleanedUpByUser);
