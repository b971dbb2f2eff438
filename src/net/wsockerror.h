#pragma once

#include <string>

namespace veltrano {

// The socket layer speaks Winsock error codes, so every message built from a code keeps the
// wording the rest of the program and its users know ("Connection refused", #10061).

// Winsock code of a system errno value from a socket call. A value with no Winsock counterpart
// is returned unchanged (its text is then "Not a WinSock error").
int winsockErrorFromErrno(int err);

// Winsock code of a getaddrinfo() failure (EAI_* value); `err` is errno for EAI_SYSTEM.
int winsockErrorFromLookup(int eaiCode, int err);

// The fixed English text of a Winsock code, "Not a WinSock error" for any other number.
std::string WSocketErrorDesc(int code);

} // namespace veltrano
