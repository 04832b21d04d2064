#include "http/FormData.h"

#include "platform/FileSystem.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace narvo {

namespace {
constexpr std::uint64_t kLineEnd = 2; // the CR LF after a file's content
}

FormData::FormData() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    int values[8];
    for (int& value : values)
        value = std::rand() % 256;
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

// Names, values and paths go in as they are, without quoting or escaping.
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

std::string FormData::ClosingDelimiter() const {
    return "--" + boundary_ + "--\r\n";
}

std::string FormData::ContentTypeHeader() const {
    return "Content-Type: multipart/form-data; boundary=" + boundary_ + "\r\n";
}

} // namespace narvo
