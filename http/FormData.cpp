#include "http/FormData.h"

#include "platform/FileSystem.h"
#include "platform/Random.h"

#include <chrono>
#include <cstdio>

namespace narvo {

namespace {
constexpr std::uint64_t kLineEnd = 2; // the CR LF after a file's content
}

FormData::FormData() {
    unsigned char values[8] = {};
    if (!platform::RandomBytes(values, sizeof values)) {
        // A system without a working source still gets a boundary that differs between forms;
        // the boundary needs to be unforeseeable, not secret.
        static std::uint64_t counter = 0;
        std::uint64_t mixed =
            std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) +
            ++counter * 0x9E3779B97F4A7C15ull;
        for (unsigned char& value : values) {
            mixed ^= mixed >> 29;
            mixed *= 0xBF58476D1CE4E5B9ull;
            value = static_cast<unsigned char>(mixed >> 56);
        }
    }
    char text[40];
    std::snprintf(text, sizeof text, "-----------------------%02x%02x%02x%02x%02x%02x%02x%02x",
                  values[0], values[1], values[2], values[3], values[4], values[5], values[6],
                  values[7]);
    boundary_ = text;
}

FormPart* FormData::AddFile(const char* name, const char* path, const char* contentType) {
    std::uint64_t size = 0;
    if (!path || !platform::FileSize(path, size)) return nullptr;
    FormPart& part = parts_.emplace_back();
    part.name = name ? name : "";
    part.value = path;
    part.contentType = contentType ? contentType : "";
    part.size = static_cast<std::int64_t>(size);
    return &part;
}

FormPart* FormData::AddField(const char* name, const char* value) {
    FormPart& part = parts_.emplace_back();
    part.name = name ? name : "";
    part.value = value ? value : "";
    return &part;
}

std::uint64_t FormData::ContentLength() const {
    std::uint64_t length = ClosingDelimiter().size();
    for (const FormPart& part : parts_) {
        length += PartText(part).size();
        if (part.IsFile()) length += std::uint64_t(part.size) + kLineEnd;
    }
    return length;
}

// Names, values and paths go in as they are, without quoting or escaping: the upload refuses a
// form whose names or file names could not stand inside the quotes (HasUnquotableNames).
std::string FormData::PartText(const FormPart& part) const {
    std::string text = "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + part.name;
    if (part.IsFile()) {
        text +=
            "\"; filename=\"" + part.value + "\"\r\nContent-Type: " + part.contentType + "\r\n\r\n";
    } else {
        text += "\"\r\n\r\n" + part.value + "\r\n";
    }
    return text;
}

bool FormData::HasUnquotableNames() const {
    for (const FormPart& part : parts_) {
        if (part.name.find_first_of("\"\r\n") != std::string::npos) return true;
        if (part.IsFile() && part.value.find_first_of("\"\r\n") != std::string::npos) return true;
    }
    return false;
}

std::string FormData::ClosingDelimiter() const {
    return "--" + boundary_ + "--\r\n";
}

std::string FormData::ContentTypeHeader() const {
    return "Content-Type: multipart/form-data; boundary=" + boundary_ + "\r\n";
}

} // namespace narvo
