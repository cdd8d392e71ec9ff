// The one serial port of the process and the console line writer.
//
// The operations below keep one contract on every platform; the platform
// files (serial_port_win32.cpp, serial_port_posix.cpp) supply the backend that
// talks to the real device, and tests install a scripted one instead.
//
// Line settings are fixed: 115200 baud, 8N1, no flow control, DTR and RTS raised.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/net_port_name.h"

// One port, parsed once: a device of this machine (Linux), a COM number, or
// a console server's serial line. Made from the settings (PortFromSettings)
// or from a name the user gave, and handed as it is to the backend's Open.
struct PortAddress {
  enum class Kind { kComNumber, kDevice, kNet };
  Kind kind = Kind::kComNumber;
  int32_t comport = 1;  // kComNumber: 1 = COM1 (on Linux /dev/ttyS0)
  std::string device;   // kDevice: the path; kNet: the name as given
  NetPortName net;      // kNet, when the name is well formed
  std::string problem;  // kNet: why the name is not well formed ("" if it is)
  std::string display;  // the port as the user's texts name it
};

// The port the settings name, with `port` as the COM number: the `device`
// key when it names a console server's port (on Linux any device), else
// COM<port>.
PortAddress PortFromSettings(int32_t port);
// A console server's port named `text` (one of the prefixes of
// serial/net_port_name.h), its parse or its problem kept.
PortAddress NetPortAddress(const std::string& text);
// A device path (Linux).
PortAddress DevicePortAddress(const std::string& path);
// COM<port>.
PortAddress ComPortAddress(int32_t port);
// True where a port may be a device path (Linux); the platform file says.
bool LocalDevicePaths();

// What a port backend must do. Each call keeps the contract of the facade
// function of the same role below (results, traces, dwcomtestpoint values).
// Every query is one the backend answers itself: none has a default, so a
// backend that wraps another cannot silently answer "all is well" for it.
class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  // Opens and configures the device at `where`; startdom's steps from
  // opening the device to applying the line settings, with their traces.
  // `eventChar`: the settings' eventchar key (where the platform has one).
  // On failure IsOpen() tells whether a handle was left open.
  virtual bool Open(const PortAddress& where, bool eventChar) = 0;
  virtual bool IsOpen() = 0;
  // Returns at once with what has arrived (0..count bytes); false on a port error.
  virtual bool Read(uint8_t* buf, uint32_t count, uint32_t* read) = 0;
  // Writes within 500 ms; false on failure.
  virtual bool Write(const uint8_t* buf, uint32_t count, uint32_t* written) = 0;
  // Discards everything queued in both directions and aborts pending I/O.
  virtual void Purge() = 0;
  // Sleeps until input is available or `ms` milliseconds have passed,
  // without spinning. True if input is available.
  virtual bool WaitInput(uint32_t ms) = 0;
  // Closes the device; harmless when already closed.
  virtual void Close() = 0;
  // True once the open device has gone away (the far end hung up, the adapter
  // was pulled): nothing will arrive on it or leave through it again. Set by
  // the call that finds it out, which traces why; cleared by Open and Close.
  // A silent but present device is never lost.
  virtual bool IsLost() = 0;
  // A sentence for the user on why the last Open failed, beyond the standard
  // port box ("" when there is nothing to add).
  virtual std::string OpenFailureHint() = 0;
  // The warning about a slow USB adapter found by the last Open ("" none);
  // `brief` for the status line.
  virtual std::string LatencyWarning(bool brief) = 0;
};

// The real backend: on each Open it takes the network port for a console
// server's address, else the platform's local port.
SerialBackend& PlatformSerialBackend();
// The platform's backend for the machine's own ports (the platform file).
SerialBackend& LocalSerialBackend();
// Installs a backend (not owned); nullptr restores the platform's.
void SetSerialBackend(SerialBackend* backend);

// Opens and configures COM<port>, or the device the settings name instead
// (OpenPort(PortFromSettings(port))). True when open and configured, or
// already open.
bool startdom(int32_t port);
// Opens and configures the port at `where`; as startdom.
bool OpenPort(const PortAddress& where);
// True while the port is open.
bool is_open();
// One console command line: the text one byte at a time 10 ms apart, then
// 0x0A 0x0A 0x0A in one write, then a 500 ms pause. Nothing (and no pause)
// when the port is closed or lost.
void WriteCom(const char* text);
// WriteCom for a line whose answer is read next: whatever input arrived
// before the line feeds go out (a late prompt, boot messages, echoes) is read
// and dropped first, so the next read can only hold text sent after the line
// was complete. Writes exactly what WriteCom writes.
void WriteComForReply(const char* text);
// WriteComForReply without the pause after the line feeds, for a caller that
// times the answer's bytes as they arrive (during the pause they would pile
// up unread). The same bytes on the wire.
void WriteComForTimedReply(const char* text);
// Reads what has arrived, 0..count bytes, without waiting. The buffer is not
// NUL-terminated. False on a port error (then *read is 0), and at once,
// without touching the device, once the port is lost.
bool MyReadFile(uint8_t* buf, uint32_t count, uint32_t* read);
// Writes count bytes; true when the platform finished the request. False at
// once, with nothing sent, once the port is lost.
bool MyWriteFile(const uint8_t* buf, uint32_t count, uint32_t* written);
// One write, then one read into a zeroed buffer; either half skipped when its
// buffer is null or its count 0. False when the port is closed or a half fails.
bool SendAndProcessCmd(uint8_t* readBuf, uint32_t readCount, const uint8_t* writeBuf,
                       uint32_t writeCount);
// Discards everything pending in both directions.
void PurgeCom();
// Closes the port; harmless when already closed. Never overlaps a read or a
// write running on another thread: it waits for that operation to end.
void CloseCom();
// Sleeps until input is available or `ms` milliseconds have passed (also when
// the port is closed or lost). The polling loops of the console and the
// protocol call it between their turns so that they never spin. True if input
// is available. Returns at once, false, from the wait that finds the port
// lost; the loops ask IsComLost and end rather than wait again.
bool WaitComInput(uint32_t ms);
// True once the open port's device has gone away (see SerialBackend::IsLost).
// Stays true until CloseCom; the port must then be opened again with startdom.
bool IsComLost();
// The backend's hint for the last failed startdom ("" if none).
std::string ComOpenFailureHint();
// The warning about a slow USB adapter behind the open port ("" if none).
std::string ComLatencyWarning(bool brief);
// The port as the user's texts name it: "COM <port>", or the `device` of the
// settings as given when it names a console server's port (on Linux any
// device): PortFromSettings(port).display.
std::string ComPortName(int32_t port);
// The settings keys that choose the port on this platform, for the user's
// texts: "comport= (1 is COM1)" and, on Linux, device=.
const char* ComPortSettingKeys();
