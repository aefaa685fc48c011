// The patcher has no manifest, so Windows starts it from a double-click with
// the user's limited token, where the installation cannot be written. It asks
// for elevation itself, once, as a manifest would have had Windows do.
#ifndef DRIVER_ELEVATION_H_
#define DRIVER_ELEVATION_H_

// Where this process is not elevated and elevation would help (an
// administrator's limited token, or a standard user's under UAC
// virtualization), starts this executable again with the runas verb and waits
// for it to end. Returns 1 when that process ran, and did the run; 0 when this
// process must do it: elevated already, a token that cannot be read, the
// prompt declined, the shell or the start refused, or this process itself a
// relaunch (a named object that the starter holds while it waits).
int RelaunchElevated();

#endif  // DRIVER_ELEVATION_H_
