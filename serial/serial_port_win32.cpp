// The serial port on Windows: COM<n> opened for overlapped I/O, each read and
// write a request with an event of its own.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/os_error.h"
#include "platform/trace.h"
#include "serial/line_settings_win32.h"
#include "serial/net_port_name.h"
#include "serial/serial_port.h"
#include "serial/usb_latency.h"

// The open port; INVALID_HANDLE_VALUE while closed (also at start).
HANDLE hComm = INVALID_HANDLE_VALUE;

namespace {

// Abort pending reads and writes and discard both queues.
const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// How long a read request may stay pending. With the read time-outs below a
// read completes at once, so this only bounds a misbehaving driver.
const DWORD kReadWaitMs = 3000;

// True when `err`, from opening a port, says another program has it.
bool InUseError(DWORD err) {
  // A COM port has one owner at a time; Windows reports a second opener
  // as access denied, some drivers as a sharing violation.
  return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION;
}

// What the user can do about a port that would not open, for the trace; the
// port box itself names both remedies already. Null when there is no advice.
const char* OpenRemedy(DWORD err) {
  if (InUseError(err)) {
    return "is in use by another program: close that program, or name another port with "
           "the comport key of fwdl.ini";
  }
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such port on this computer: look up the port's number under Ports in the "
             "Device Manager and set it with the comport key of fwdl.ini";
    default:
      return nullptr;
  }
}

// Traces the failed call `what` with the system's text for `err`.
void TraceError(const char* what, DWORD err) {
  DbgTrace("%s: error %lu (%s)\n", what, err, OsErrorText(err).c_str());
}

std::atomic<CommStateSetter> g_setCommState{nullptr};

BOOL ApplyCommState(HANDLE port, DCB* dcb) {
  CommStateSetter setter = g_setCommState.load();
  return setter ? setter(port, dcb) : SetCommState(port, dcb);
}

// Set once the open port's device has gone away; cleared by Open and Close.
std::atomic<bool> g_lost{false};

// Errors with which a port answers once its device is gone. USB serial
// drivers give ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND or ERROR_GEN_FAILURE
// after a surprise removal, newer ones ERROR_DEVICE_REMOVED; Wine gives
// ERROR_NOT_READY to ClearCommError and WriteFile once the far end of its
// pseudo-terminal has closed, and completes a read with ERROR_BROKEN_PIPE.
// A silent device gives none of them.
bool GoneError(DWORD err) {
  switch (err) {
    case ERROR_ACCESS_DENIED:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

// Marks the port lost when `err`, the error of the failed call `what`, says
// the device is gone, tracing the first cause only. True if it is lost.
bool NoteIfGone(const char* what, DWORD err) {
  if (!GoneError(err)) return g_lost.load();
  if (!g_lost.exchange(true)) {
    DbgTrace("%s: error %lu (%s): the port is gone\n", what, err, OsErrorText(err).c_str());
  }
  return true;
}

// Clears the port's error state. *queued receives the number of bytes in the
// input queue; false when the port refuses (closed, or its device gone).
bool ClearError(DWORD* queued = nullptr) {
  DWORD errors = 0;
  COMSTAT stat = {};
  bool ok = ClearCommError(hComm, &errors, &stat) != 0;
  if (!ok) NoteIfGone("ClearCommError", GetLastError());
  if (queued) *queued = ok ? stat.cbInQue : 0;
  return ok;
}

// A request that ended with ERROR_OPERATION_ABORTED was cut off either by a
// purge or by the removal of the device; the port itself tells which.
bool NoteIfGoneAfter(const char* what, DWORD err) {
  if (err == ERROR_OPERATION_ABORTED) {
    ClearError();
    return g_lost.load();
  }
  return NoteIfGone(what, err);
}

// Ends a request that is still pending and waits until the driver lets go of
// its buffer and OVERLAPPED record. Returns the bytes it moved before the end.
DWORD CancelAndAwait(OVERLAPPED* ov) {
  CancelIo(hComm);
  DWORD n = 0;
  if (!GetOverlappedResult(hComm, ov, &n, TRUE)) n = 0;
  return n;
}

class Win32SerialPort : public SerialBackend {
 public:
  bool Open(const PortAddress& where, bool eventChar) override;
  bool IsOpen() override { return hComm != INVALID_HANDLE_VALUE; }
  bool Read(uint8_t* buf, uint32_t count, uint32_t* read) override;
  bool Write(const uint8_t* buf, uint32_t count, uint32_t* written) override;
  void Purge() override { PurgeComm(hComm, kPurgeAll); }
  bool WaitInput(uint32_t ms) override;
  void Close() override;
  bool IsLost() override { return g_lost.load(); }
  std::string OpenFailureHint() override;
  std::string LatencyWarning(bool brief) override { return tuner_.Warning(brief); }

 private:
  LatencyTuner tuner_;
  bool eventCharSet_ = false;  // the open port's EvtChar is '*'
  // The port and the error of the last failed open (0 none).
  char failedPort_[48] = "";
  DWORD failedError_ = 0;
};

bool Win32SerialPort::Open(const PortAddress& where, bool eventChar) {
  const int32_t port = where.comport;
  g_lost = false;
  failedError_ = 0;
  DbgTrace("startdom--V1.4");
  char strComPort[48];
  snprintf(strComPort, sizeof strComPort, "COM%d", static_cast<int>(port));
  snprintf(failedPort_, sizeof failedPort_, "%s", strComPort);
  DbgTrace("strComPort=%s", strComPort);
  // The device namespace form opens COM10 and above too; "COMn" alone is
  // only recognised for n < 10.
  char device[64];
  snprintf(device, sizeof device, "\\\\.\\%s", strComPort);
  hComm = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, nullptr);
  if (hComm == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    failedError_ = err;
    DbgTrace("CreateFileA(%s): error %lu (%s)\n", device, err, OsErrorText(err).c_str());
    if (const char* remedy = OpenRemedy(err)) DbgTrace("%s %s\n", strComPort, remedy);
    DbgTrace("hComm == INVALID_HANDLE_VALUE");
    return false;
  }
  DbgTrace("startdom--2");
  ClearError();
  if (!SetupComm(hComm, 8192, 8192)) {
    DbgTrace("SetupComm(8K, 8K) failed!!");
    return false;
  }
  PurgeComm(hComm, kPurgeAll);

  // Reads return at once with what has arrived; writes end within 500 ms.
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = 500;
  if (!SetCommTimeouts(hComm, &timeouts)) DbgTrace("startdom v1.9--failed");

  DCB dcb = PortLineSettings(eventChar);
  DbgTrace("CBR_115200=%d", CBR_115200);
  if (dcb.EvtChar != 0) DbgTrace("startdom: event character '%c'\n", dcb.EvtChar);
  if (!ApplyCommState(hComm, &dcb)) {
    DbgTrace("Couldn't set the dcb for the serial port: SetCommState");
    return false;
  }
  eventCharSet_ = dcb.EvtChar != 0;
  DbgTrace("startdom v2.3--OK");
  tuner_.OnOpen(0, UsbLatencyRoot(), strComPort, dcb.EvtChar != 0);
  return true;
}

std::string Win32SerialPort::OpenFailureHint() {
  // Windows does not say who holds a port; the program that has it must be
  // found and closed by hand.
  if (!InUseError(failedError_)) return std::string();
  char text[260];
  snprintf(text, sizeof text,
           "%s is in use by another program (a terminal program, a second tarnwick). "
           "Close it, then try again.",
           failedPort_);
  return text;
}

bool Win32SerialPort::Read(uint8_t* buf, uint32_t count, uint32_t* read) {
  *read = 0;
  dwcomtestpoint = 101;
  OVERLAPPED ov = {};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  dwcomtestpoint = 102;
  if (ov.hEvent == nullptr) {
    DbgTrace("Error in communicatons--read 1\n");
    return false;
  }
  DWORD queued = 0;
  const bool queueKnown = ClearError(&queued);
  dwcomtestpoint = 103;
  // Ask only for what has arrived. The read time-outs make an empty read
  // return at once, but some drivers (Wine's among them) leave it pending
  // until data comes; an empty queue is a read of 0 bytes without a request.
  if (queueKnown && queued < count) count = queued;
  DWORD n = 0;
  bool result = false;
  if (g_lost) {
    // The error state could not be cleared because the device is gone.
    dwcomtestpoint = 104;
  } else if (queueKnown && count == 0) {
    result = true;
  } else if (ReadFile(hComm, buf, count, &n, &ov)) {
    result = true;
  } else {
    dwcomtestpoint = 104;
    DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
      if (!NoteIfGone("ReadFile", err)) TraceError("ReadFile", err);
      DbgTrace("Error in communicatons--read 1\n");
    } else {
      dwcomtestpoint = 105;
      DWORD wait = WaitForSingleObject(ov.hEvent, kReadWaitMs);
      dwcomtestpoint = 106;
      if (wait == WAIT_OBJECT_0) {
        dwcomtestpoint = 107;
        if (GetOverlappedResult(hComm, &ov, &n, FALSE)) {
          DbgTrace("MyReadFile:WAIT_OBJECT_0 iBytesRead=%d", static_cast<int>(n));
          result = true;
        } else {
          dwcomtestpoint = 108;
          NoteIfGoneAfter("ReadFile", GetLastError());
          DbgTrace("Error in communicatons--read 2\n");
        }
      } else {
        DbgTrace(wait == WAIT_TIMEOUT ? "MyReadFile: WAIT_TIMEOUT" : "MyReadFile: default");
        // The request may still write into buf; it must be over before buf
        // and ov go. Bytes it took from the queue in the meantime are kept.
        n = CancelAndAwait(&ov);
        result = n > 0;
      }
    }
  }
  if (result) *read = n;
  dwcomtestpoint = 109;
  CloseHandle(ov.hEvent);
  if (!g_lost) ClearError();
  dwcomtestpoint = 110;
  return result;
}

bool Win32SerialPort::Write(const uint8_t* buf, uint32_t count, uint32_t* written) {
  *written = 0;
  dwcomtestpoint = 210;
  OVERLAPPED ov = {};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  dwcomtestpoint = 211;
  if (ov.hEvent == nullptr) {
    dwcomtestpoint = 212;
    return false;
  }
  DWORD n = 0;
  bool result = false;
  if (WriteFile(hComm, buf, count, &n, &ov)) {
    result = true;
  } else {
    dwcomtestpoint = 213;
    DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
      if (!NoteIfGone("WriteFile", err)) TraceError("WriteFile", err);
      DbgTrace("Error in communicatons--write 1\n");
    } else {
      // No limit here: the port's 500 ms write time-out ends the request.
      dwcomtestpoint = 214;
      if (GetOverlappedResult(hComm, &ov, &n, TRUE)) {
        result = true;
      } else {
        dwcomtestpoint = 215;
        NoteIfGoneAfter("WriteFile", GetLastError());
        DbgTrace("Error in communicatons--write 2\n");
      }
    }
  }
  // A request ended by the write time-out completes with fewer bytes than
  // asked; the rest never reaches the line, so that is a failed write.
  if (result && n < count) {
    dwcomtestpoint = 215;
    DbgTrace("WriteFile: %lu of %lu bytes within 500 ms\n", n, static_cast<DWORD>(count));
    DbgTrace("Error in communicatons--write 2\n");
    result = false;
  }
  *written = n;
  dwcomtestpoint = 216;
  CloseHandle(ov.hEvent);
  dwcomtestpoint = 217;
  return result;
}

bool InputQueued() {
  DWORD queued = 0;
  return ClearError(&queued) && queued > 0;
}

enum class EventWait { kReceived, kNothing, kUnsupported };

// Ends a WaitCommEvent still pending and waits until the driver has let go of
// `ov`. A new event mask ends the wait on every driver; CancelIo does not
// (Wine ignores it) and is only the fallback.
void EndEventWait(OVERLAPPED* ov) {
  SetCommMask(hComm, 0);
  if (WaitForSingleObject(ov->hEvent, 1000) != WAIT_OBJECT_0) CancelIo(hComm);
  DWORD n = 0;
  GetOverlappedResult(hComm, ov, &n, TRUE);
}

// One wait on the receive event (the mask must hold EV_RXCHAR), up to `ms`.
EventWait WaitReceiveEvent(DWORD ms) {
  OVERLAPPED ov = {};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) return EventWait::kUnsupported;
  DWORD mask = 0;
  EventWait result = EventWait::kNothing;
  if (WaitCommEvent(hComm, &mask, &ov)) {
    if (mask & EV_RXCHAR) result = EventWait::kReceived;
  } else if (GetLastError() != ERROR_IO_PENDING) {
    result = EventWait::kUnsupported;
  } else if (WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0) {
    DWORD n = 0;
    if (GetOverlappedResult(hComm, &ov, &n, FALSE) && (mask & EV_RXCHAR)) {
      result = EventWait::kReceived;
    }
  } else {
    EndEventWait(&ov);
  }
  CloseHandle(ov.hEvent);
  return result;
}

// Looks at the input queue every few milliseconds until `end` (GetTickCount64),
// for drivers without event waits.
bool PollInputQueue(ULONGLONG end) {
  for (;;) {
    if (InputQueued()) return true;
    if (g_lost) return false;
    ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    Sleep(static_cast<DWORD>(end - now < 5 ? end - now : 5));
  }
}

bool Win32SerialPort::WaitInput(uint32_t ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    // The receive event is armed before the queue is looked at, so that a
    // byte arriving between the look and the wait still ends the wait.
    if (!SetCommMask(hComm, EV_RXCHAR)) return PollInputQueue(end);
    if (InputQueued()) return true;
    // Nothing can arrive on a port whose device has gone.
    if (g_lost) return false;
    ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    EventWait wait = WaitReceiveEvent(static_cast<DWORD>(end - now));
    if (wait == EventWait::kUnsupported) return PollInputQueue(end);
    if (wait == EventWait::kNothing) {
      // Wine ends event waits every few milliseconds with no event at all;
      // a short pause keeps such a driver from turning this into a spin.
      now = GetTickCount64();
      if (now < end) Sleep(static_cast<DWORD>(end - now < 5 ? end - now : 5));
    }
  }
}

void Win32SerialPort::Close() {
  if (hComm == INVALID_HANDLE_VALUE) return;
  // The driver keeps the line settings once the handle is closed: the next
  // program to open the port, if it changes only the fields it cares about,
  // would inherit '*' as its event character.
  if (eventCharSet_) {
    eventCharSet_ = false;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(hComm, &dcb)) dcb = PortLineSettings(false);
    dcb.EvtChar = 0;
    if (!ApplyCommState(hComm, &dcb)) TraceError("Close: SetCommState(EvtChar=0)", GetLastError());
  }
  // Each may fail on a device that has gone; closing goes on regardless.
  SetCommMask(hComm, 0);
  DWORD errors = 0;
  COMSTAT stat = {};
  ClearCommError(hComm, &errors, &stat);
  PurgeComm(hComm, kPurgeAll);
  CloseHandle(hComm);
  hComm = INVALID_HANDLE_VALUE;
  g_lost = false;
}

}  // namespace

DCB PortLineSettings(bool eventChar) {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (eventChar) dcb.EvtChar = '*';
  return dcb;
}

void SetCommStateSetter(CommStateSetter setter) { g_setCommState.store(setter); }

SerialBackend& LocalSerialBackend() {
  static Win32SerialPort port;
  return port;
}

// device= names only a console server's port here; COM ports go by number.
bool LocalDevicePaths() { return false; }

const char* ComPortSettingKeys() { return "comport= (1 is COM1)"; }
