#pragma once

#include <stdexcept>
#include <string>

namespace tavro {

// Every failure the program knows of is an error number and a description, the
// two things the user is shown. Adapters translate their platform's failures
// into this one type; the logic catches it only where its behaviour says so.
class Error : public std::runtime_error {
public:
    Error(int number, const std::string& description) : std::runtime_error(description), m_number(number) {}

    int number() const noexcept { return m_number; }
    std::string description() const { return what(); }

private:
    int m_number;
};

// The numbers the program raises itself. Adapters may raise others, such as a
// transport's own error code.
namespace errc {
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int TypeMismatch = 13;
inline constexpr int InternalError = 51;
inline constexpr int FileNotFound = 53;
inline constexpr int DeviceIoError = 57;
inline constexpr int DiskFull = 61;
inline constexpr int InputPastEndOfFile = 62;
inline constexpr int TooManyFiles = 67;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccess = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ObjectVariableNotSet = 91;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int InvalidPropertyArrayIndex = 381;
inline constexpr int ObjectRequired = 424;
inline constexpr int CannotCreateObject = 429;
inline constexpr int AutomationError = 440;
inline constexpr int NoMenuBar = 449;
} // namespace errc

} // namespace tavro
