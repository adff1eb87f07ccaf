#pragma once
// Where posts travel on the session bus: every post is one broadcast signal
//   path /com/sorvane/NotifyCenter, interface com.sorvane.NotifyCenter,
//   member Post, signature "sa{ss}": the notification name, then the payload
//   entries.
// The name comes first so observers can subscribe with an arg0 match rule.

namespace platform::notify {

inline constexpr const char* kBusObjectPath = "/com/sorvane/NotifyCenter";
inline constexpr const char* kBusInterface = "com.sorvane.NotifyCenter";
inline constexpr const char* kBusMember = "Post";
inline constexpr const char* kBusSignature = "sa{ss}";

}  // namespace platform::notify
