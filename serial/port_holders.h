// Other programs that have a serial device open.
//
// On Linux a tty can be opened by any number of processes at once, and every
// one of them that reads takes bytes away from the others: a forgotten
// terminal program or a modem manager probing a new adapter eats the
// console's acknowledgements half-way through a download. A lock or
// exclusive mode taken by the port only keeps out those that come later, so
// the port also looks for those that were there first.
#pragma once
#include <string>
#include <vector>

struct PortHolder {
  int pid = 0;
  std::string name;  // the program's name as the kernel keeps it ("" unknown)
};

// Every process under `procRoot` (normally "/proc") other than this one that
// has `device` open, in process-id order. `device` may be a link (such as
// /dev/serial/by-id/...): what counts is the device it leads to. Processes
// whose open files cannot be read are left out (and listed in `hidden` when
// given, with the name where it can be read). The far end of a
// pseudo-terminal (a process holding its master side, which may keep the
// device side open too, as a simulator does) is the line's peer, not a rival
// reader, and is left out as well. Empty when `device` is not a character
// device. Linux only.
std::vector<PortHolder> FindPortHolders(const std::string& procRoot, const std::string& device,
                                        std::vector<PortHolder>* hidden = nullptr);

// The sentence for the user about a port that `holders` (at least one) have
// open: who they are and what to do. When one of them is ModemManager, the
// remedy is the udev property that makes it leave the adapter alone.
std::string HeldPortHint(const std::vector<PortHolder>& holders);
