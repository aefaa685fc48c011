// The check before anything is read or written: Windows redirects the writes
// of an unelevated 32-bit program without a manifest (UAC virtualization) to
// the user's VirtualStore, where they succeed and change nothing anyone else
// sees, and merges that store into what the program reads.
#ifndef DRIVER_VIRTUALIZATION_H_
#define DRIVER_VIRTUALIZATION_H_

// Turns UAC file and registry virtualization off for this process where its
// token has it on. Returns 0 only when it is on and stays on (the token cannot
// be opened for the change, or the change is refused); 1 when it is off now,
// was never on, or cannot be known (a Windows that does not know the token
// class, or a token that cannot be read). Closes every handle it opens.
int EndVirtualization();

#endif  // DRIVER_VIRTUALIZATION_H_
