#pragma once
// A multipart/form-data body: its parts in order and its boundary. It knows the body's exact
// length before a byte is sent, so that an upload can declare it and then stream file content.
#include <cstdint>
#include <list>
#include <string>

namespace narvo {

struct FormPart {
    std::string name;
    std::string value;       // a text field's value, or a file's path (also sent as its file name)
    std::string contentType; // a file's media type; empty for a text field
    std::int64_t size = -1;  // -1 for a text field; a file's length when it was added

    bool IsFile() const { return size >= 0; }
};

class FormData {
public:
    // An empty form with a boundary drawn now: 23 hyphens and 16 hexadecimal digits from the
    // system's cryptographic random source.
    FormData();

    // Appends a file part with the file's current length; null (and nothing added) when the file
    // cannot be opened for reading.
    FormPart* AddFile(const char* name, const char* path, const char* contentType);
    // Appends a text field.
    FormPart* AddField(const char* name, const char* value);

    // The exact byte count of the body the upload writes.
    std::uint64_t ContentLength() const;

    const std::list<FormPart>& Parts() const { return parts_; }
    const std::string& Boundary() const { return boundary_; }

    // True when a part's name or a file's name holds a quote, CR or LF, which the part header
    // cannot carry inside its quotes.
    bool HasUnquotableNames() const;

    // What goes on the wire for a part: a text field whole, or what precedes a file's content.
    std::string PartText(const FormPart& part) const;
    // The line after the last part: "--BOUNDARY--" CR LF.
    std::string ClosingDelimiter() const;
    // The request header line that announces the form and its boundary, CR LF included.
    std::string ContentTypeHeader() const;

private:
    std::list<FormPart> parts_; // a list: the parts handed out stay where they are
    std::string boundary_;
};

} // namespace narvo
