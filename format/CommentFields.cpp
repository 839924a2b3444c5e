#include "format/CommentFields.h"

#include <cstring>

#include "platform/Utf8.h"

namespace ostrel {

namespace {

// Values are one line each: a line feed is written as "\n", a backslash as "\\".
std::string Escape(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

// Undoes Escape; false for a backslash before anything but 'n' or '\\'.
bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const char next = text[++i];
    if (next == 'n') {
      *out += '\n';
    } else if (next == '\\') {
      *out += '\\';
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string KeyProblem(const std::string& key) {
  if (key.empty()) return "a field's key is empty";
  for (char c : key) {
    if (c < 0x20 || c > 0x7D || c == '=') return "the key \"" + key + "\" holds a character other than 0x20..0x7D but '='";
  }
  return "";
}

std::string ValueProblem(const std::string& value) {
  if (value.find('\0') != std::string::npos) return "the value holds a NUL byte";
  if (!IsUtf8(value)) return "the value is not valid UTF-8";
  return "";
}

std::string FieldKey(const std::string& key) {
  std::string upper = key;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string LengthValue(uint64_t samples) {
  std::string digits = std::to_string(samples);
  if (digits.size() < LENGTH_DIGITS) digits.insert(0, LENGTH_DIGITS - digits.size(), '0');
  return digits;
}

std::string UnknownLengthValue() { return std::string(LENGTH_DIGITS, LENGTH_UNKNOWN_CHAR); }

std::string BuildComment(const std::vector<CommentField>& fields, const std::string& length, std::size_t* lengthAt) {
  std::string out = COMMENT_FIELDS_MARKER;
  out += '\n';
  out += LENGTH_KEY;
  out += '=';
  if (lengthAt != nullptr) *lengthAt = out.size();
  out += length;
  out += '\n';
  for (const CommentField& f : fields) {
    if (f.key == LENGTH_KEY) continue;
    out += f.key;
    out += '=';
    out += Escape(f.value);
    out += '\n';
  }
  return out;
}

ParsedComment ParseComment(const char* data, std::size_t bytes) {
  ParsedComment parsed;
  const std::string text(data, bytes);
  const std::size_t markerBytes = sizeof COMMENT_FIELDS_MARKER - 1;
  if (text.compare(0, markerBytes, COMMENT_FIELDS_MARKER) != 0 ||
      (text.size() > markerBytes && text[markerBytes] != '\n' && text[markerBytes] != '\r')) {
    return parsed;  // free text
  }
  parsed.hasFields = true;
  std::size_t at = text.find('\n');
  at = at == std::string::npos ? text.size() : at + 1;
  for (int line = 2; at < text.size(); ++line) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string body = text.substr(at, end - at);
    at = end + 1;
    if (!body.empty() && body.back() == '\r') body.pop_back();
    if (body.empty()) continue;
    const auto complain = [&](const std::string& what) {
      if (parsed.problem.empty()) parsed.problem = "the comment's line " + std::to_string(line) + " " + what + "; it is left out";
    };
    const std::size_t eq = body.find('=');
    if (eq == std::string::npos) {
      complain("is not KEY=VALUE");
      continue;
    }
    CommentField field;
    field.key = FieldKey(body.substr(0, eq));
    std::string problem = KeyProblem(field.key);
    if (problem.empty() && !Unescape(body.substr(eq + 1), &field.value)) problem = "the value has a backslash other than \\n or \\\\";
    if (problem.empty()) problem = ValueProblem(field.value);
    if (!problem.empty()) {
      complain("is malformed (" + problem + ")");
      continue;
    }
    if (field.key == LENGTH_KEY) {
      const std::string& v = field.value;
      const bool unknown = !v.empty() && v.find_first_not_of(LENGTH_UNKNOWN_CHAR) == std::string::npos;
      const bool digits = !v.empty() && v.size() <= 19 && v.find_first_not_of("0123456789") == std::string::npos;
      if (digits) {
        parsed.lengthKnown = true;
        parsed.length = std::stoull(v);
      } else if (!unknown) {
        complain("gives LENGTH=" + v + ", which is not a number of sample frames");
        continue;
      }
    }
    parsed.fields.push_back(std::move(field));
  }
  return parsed;
}

}  // namespace ostrel
