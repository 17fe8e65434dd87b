// platform/serial_device.h - serial devices and pseudo-terminals: the only code that knows termios.
//
// Results are 0 (or a count) on success and a negated errno on failure; nothing here logs.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// The device behind a page.ini port name: COMn (any case, n from 1) is /dev/ttyS<n-1>, a name
// holding '/' is used as it is, any other name is /dev/<name>.
std::string SerialDevicePath(std::string_view portName);

// Opens the port for this program alone: read/write, not as controlling terminal, blocking
// I/O, TIOCEXCL. A port another program holds is refused with -EBUSY (its UUCP lock file in
// /var/lock, or the exclusive flag another opener set). 0, or -errno.
[[nodiscard]] int OpenSerialDevice(std::string_view portName, UniqueFd& out);

// Raw mode (no echo, no line editing, no character translation, VMIN 0 / VTIME 0) with the
// line's speed and framing as they are. 0, or -errno.
[[nodiscard]] int MakeSerialRaw(const UniqueFd& fd);

// Line settings from the parameter text "NAME: baud=2400 parity=E data=7 stop=1": raw mode,
// the baud rate, parity N/E/O/M/S, data bits 5-8, stop bits 1-2, CLOCAL, CREAD and HUPCL on,
// no flow control, VMIN 0 / VTIME 0; DTR and RTS raised. A malformed text or a rate termios
// does not know gives -EINVAL. On a pseudo-terminal, which cannot carry parity or 7 data
// bits, what the kernel keeps is accepted as success. 0, or -errno.
[[nodiscard]] int SetSerialLine(const UniqueFd& fd, std::string_view parameterText);

// Bytes received and not yet read, or -errno.
[[nodiscard]] int SerialBytesWaiting(const UniqueFd& fd);

// Waits until fd has input, or wakeFd (when >= 0) becomes readable, or timeoutMs passes
// (-1: no limit). 1 fd readable, 2 woken, 0 time-out, -errno. A hung-up line counts as readable.
[[nodiscard]] int WaitSerialInput(const UniqueFd& fd, int wakeFd, int timeoutMs);
// The same with up to four wake-up descriptors: 2 + i when wakeFds[i] became readable first
// in the list; -EINVAL for more than four.
[[nodiscard]] int WaitSerialInput(const UniqueFd& fd, std::span<const int> wakeFds, int timeoutMs);

// Reads what is there, at most buf.size() bytes, without waiting. Bytes stored, 0 when none,
// -errno (-EIO when the other end of a pseudo-terminal has gone).
[[nodiscard]] int ReadSerialNow(const UniqueFd& fd, std::span<char> buf);

// Writes all of bytes (retrying short writes). 0, or -errno.
[[nodiscard]] int WriteSerial(const UniqueFd& fd, std::string_view bytes);

// A wake-up channel for a thread blocked in WaitSerialInput: an eventfd.
[[nodiscard]] int MakeWakeEvent(UniqueFd& out);
void SignalWakeEvent(const UniqueFd& event);

// --- pseudo-terminals (the modem simulator) ---

// Creates a pseudo-terminal: the master, and the slave held open by the caller too (so the
// master never sees a hang-up while the server closes and reopens its side). Both raw.
// slavePath gets the slave's device path. 0, or -errno.
[[nodiscard]] int OpenPseudoTerminal(UniqueFd& master, UniqueFd& slave, std::string& slavePath);

// What a real port does on its last close, done for a pseudo-terminal whose slave the caller
// holds: forget the exclusive flag (TIOCNXCL) and drop the input nobody read. 0, or -errno.
[[nodiscard]] int ResetPseudoTerminalSlave(const UniqueFd& slave);

// Watches a device file for opens and closes by any process (inotify). 0, or -errno.
[[nodiscard]] int WatchDeviceOpenClose(const std::string& devicePath, UniqueFd& out);
// Reads the pending events without waiting: opens and closes seen since the last call.
// 0, or -errno.
[[nodiscard]] int ReadDeviceOpenClose(const UniqueFd& watch, int& opens, int& closes);
// The same, and how many of the opens came after the last close (the device was closed and
// opened again since the last call when closes > 0 and opensAfterLastClose > 0).
[[nodiscard]] int ReadDeviceOpenClose(const UniqueFd& watch, int& opens, int& closes, int& opensAfterLastClose);

}  // namespace platform
