// Status codes shared by every module. Operations return one of these (or a
// system error, which is the errno value of the failed call) and never throw
// across a module boundary.
#pragma once

namespace corvyn {

using Status = int;

inline constexpr Status kOk = 0;
inline constexpr Status kStopped = 2;            // the progress callback asked to stop
inline constexpr Status kShortRead = 30;         // a read returned fewer bytes than asked
inline constexpr Status kInvalidData = 87;       // invalid data, or a file that cannot be opened
inline constexpr Status kSourceUnreadable = -1;  // device source cannot be read ("MSG0512")
inline constexpr Status kWrongPassword = -110;   // wrong backup password
inline constexpr Status kWhatsAppQueryFailed = 1006;
inline constexpr Status kFileMapUnopenable = 6009;

}  // namespace corvyn
