#pragma once
// Identity of the reporting client: its reverse-domain identifier (the first part of every queue
// label and the last component of its data directory), its error domain, its general log tag and
// its default log URL.
#include <cstdint>

inline constexpr const char* kDIZSdkIdentifier = "com.quorvane.dudizizoz";
inline constexpr const char* kDIZLogTag = "DudIzizoz";
// Where Dud Izizoz logs go unless the application names another log URL.
inline constexpr const char* kDIZDefaultLogUrl = "https://in.dudizizoz.quorvane.com";

inline constexpr const char* kDIZErrorDomain = "com.quorvane.dudizizoz.ErrorDomain";
inline constexpr int64_t kDIZLogInvalidContainerErrorCode = 1;
inline constexpr const char* kDIZLogInvalidContainerErrorDesc = "Invalid log container.";
inline constexpr int64_t kDIZCanceledErrorCode = 2;
inline constexpr const char* kDIZCanceledErrorDesc = "The operation was canceled.";
inline constexpr int64_t kDIZDisabledErrorCode = 3;
inline constexpr const char* kDIZDisabledErrorDesc = "The service is disabled.";
inline constexpr int64_t kDIZConnectionPausedErrorCode = 100;
inline constexpr const char* kDIZConnectionPausedErrorDesc = "Canceled, connection paused with log deletion.";
