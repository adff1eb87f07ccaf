#include "NSError.h"

#include <cerrno>
#include <cstring>

NSError::NSError(std::string_view domain, long code, UserInfo userInfo)
    : domain_(domain), code_(code), userInfo_(std::move(userInfo)) {}

std::shared_ptr<NSError> NSError::errorWithDescription(std::string_view domain, long code, std::string_view description,
                                                       std::string_view path) {
    UserInfo info{{std::string(NSLocalizedDescriptionKey), std::string(description)}};
    if (!path.empty()) info.emplace_back(std::string(NSFilePathErrorKey), std::string(path));
    return std::make_shared<NSError>(domain, code, std::move(info));
}

namespace {

// The Cocoa file-error code that best matches a failed system call.
long cocoaCodeForErrno(int errnum) {
    switch (errnum) {
        case ENOENT:
        case ENOTDIR: return NSFileNoSuchFileError;
        case EACCES:
        case EPERM:
        case EROFS: return NSFileWriteNoPermissionError;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return NSFileWriteOutOfSpaceError;
        case EEXIST: return NSFileWriteFileExistsError;
        default: return NSFileWriteUnknownError;
    }
}

std::string posixDescription(int errnum) {
    return "Error Domain=" + std::string(NSPOSIXErrorDomain) + " Code=" + std::to_string(errnum) + " \"" +
           std::strerror(errnum) + "\"";
}

}  // namespace

std::shared_ptr<NSError> NSError::errorWithPOSIXCode(int errnum, std::string_view action, std::string_view path,
                                                     std::string_view secondPath) {
    std::string sentence = "Could not " + std::string(action);
    if (!path.empty()) sentence += " \"" + std::string(path) + "\"";
    if (!secondPath.empty()) sentence += " to \"" + std::string(secondPath) + "\"";
    sentence += ": ";
    sentence += std::strerror(errnum);
    sentence += ".";
    UserInfo info{{std::string(NSLocalizedDescriptionKey), sentence}};
    if (!path.empty()) info.emplace_back(std::string(NSFilePathErrorKey), std::string(path));
    if (!secondPath.empty()) info.emplace_back(std::string(NSDestinationFilePathErrorKey), std::string(secondPath));
    info.emplace_back(std::string(NSUnderlyingErrorKey), posixDescription(errnum));
    return std::make_shared<NSError>(NSCocoaErrorDomain, cocoaCodeForErrno(errnum), std::move(info));
}

std::string_view NSError::userInfoValue(std::string_view key) const {
    for (const auto& [k, v] : userInfo_)
        if (k == key) return v;
    return {};
}

std::string NSError::localizedDescription() const {
    const std::string_view text = userInfoValue(NSLocalizedDescriptionKey);
    if (!text.empty()) return std::string(text);
    return "The operation couldn't be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::string NSError::description() const {
    std::string out =
        "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" + localizedDescription() + "\"";
    if (!userInfo_.empty()) {
        out += " UserInfo={";
        bool first = true;
        for (const auto& [key, value] : userInfo_) {
            if (!first) out += ", ";
            first = false;
            out += key + "=" + value;
        }
        out += "}";
    }
    return out;
}
