#pragma once
// Error objects as the platform reports them: a domain, a code and a small
// ordered table of user information (description, paths, underlying reason).

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr std::string_view NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::string_view NSPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr std::string_view AVFoundationErrorDomain = "AVFoundationErrorDomain";

inline constexpr std::string_view NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr std::string_view NSLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr std::string_view NSFilePathErrorKey = "NSFilePath";
inline constexpr std::string_view NSDestinationFilePathErrorKey = "NSDestinationFilePath";
inline constexpr std::string_view NSUnderlyingErrorKey = "NSUnderlyingError";

// Cocoa codes used by the file and media services.
inline constexpr long NSFileNoSuchFileError = 4;
inline constexpr long NSFileWriteUnknownError = 512;
inline constexpr long NSFileWriteNoPermissionError = 513;
inline constexpr long NSFileWriteOutOfSpaceError = 640;
inline constexpr long NSFileWriteFileExistsError = 516;
inline constexpr long NSFileReadNoSuchFileError = 260;
inline constexpr long AVErrorUnknown = -11800;
inline constexpr long AVErrorNoDataCaptured = -11805;
inline constexpr long AVErrorUnsupportedOutputSettings = -11861;
inline constexpr long AVErrorDiskFull = -11807;

class NSError {
public:
    using UserInfo = std::vector<std::pair<std::string, std::string>>;

    NSError(std::string_view domain, long code, UserInfo userInfo);

    // An error with a localized description and, when `path` is not empty,
    // the path it concerns.
    static std::shared_ptr<NSError> errorWithDescription(std::string_view domain, long code,
                                                         std::string_view description, std::string_view path = {});
    // An error for a failed system call: Cocoa code chosen from errno, the
    // description names the action and the path, the reason is strerror(errnum).
    static std::shared_ptr<NSError> errorWithPOSIXCode(int errnum, std::string_view action, std::string_view path,
                                                       std::string_view secondPath = {});

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const UserInfo& userInfo() const { return userInfo_; }
    // The value for `key` in the user information, or empty.
    std::string_view userInfoValue(std::string_view key) const;

    // One sentence for a person: the NSLocalizedDescription entry, or a
    // generic sentence naming the domain and code.
    std::string localizedDescription() const;
    // Everything: Error Domain=... Code=... "..." UserInfo={key=value, ...}
    std::string description() const;

private:
    std::string domain_;
    long code_;
    UserInfo userInfo_;
};

using NSErrorPtr = std::shared_ptr<NSError>;
