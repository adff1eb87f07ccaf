#pragma once
// Where posts travel on the session bus: every post is one broadcast signal
//   path /org/darwin/notify, interface org.darwin.NotifyCenter, member Post,
//   signature "sa{ss}": the notification name, then the payload entries.
// The name comes first so observers can subscribe with an arg0 match rule.

namespace platform::notify {

inline constexpr const char* kBusObjectPath = "/org/darwin/notify";
inline constexpr const char* kBusInterface = "org.darwin.NotifyCenter";
inline constexpr const char* kBusMember = "Post";
inline constexpr const char* kBusSignature = "sa{ss}";

}  // namespace platform::notify
