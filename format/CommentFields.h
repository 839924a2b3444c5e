// Fields in the header's comment string: an opening marker line, then one KEY=VALUE line per
// field (UTF-8, keys and meanings as in Vorbis comments), among them LENGTH, the source's exact
// length in sample frames per channel. A comment without the marker is one free-text comment.
// doc/comment-fields.md describes the convention for other implementers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

// The first line of a comment that holds fields (followed by '\n').
constexpr char COMMENT_FIELDS_MARKER[] = "OSTREL-FIELDS/1";
constexpr char LENGTH_KEY[] = "LENGTH";
// LENGTH's value as the encoder writes it: this many decimal digits with leading zeros, or as
// many '?' while the length is not known (a stream written where the output could not seek back).
constexpr std::size_t LENGTH_DIGITS = 16;
constexpr char LENGTH_UNKNOWN_CHAR = '?';

struct CommentField {
  std::string key;    // upper case
  std::string value;  // UTF-8, unescaped
};

// Why `key` cannot be a field's key ("" when it can): 1 or more characters 0x20..0x7D but '='.
std::string KeyProblem(const std::string& key);
// Why `value` cannot be a field's value ("" when it can): valid UTF-8 without NUL.
std::string ValueProblem(const std::string& value);
// `key` in upper case (ASCII letters only).
std::string FieldKey(const std::string& key);

// The comment holding `fields` (LENGTH among them is ignored): the marker line, the LENGTH line
// with the value `length` (LengthValue) and the fields in their order. `*lengthAt`, when given,
// receives the offset of LENGTH's value in the comment.
std::string BuildComment(const std::vector<CommentField>& fields, const std::string& length,
                         std::size_t* lengthAt = nullptr);
// LENGTH's fixed-width value for `samples`, or for an unknown length.
std::string LengthValue(uint64_t samples);
std::string UnknownLengthValue();

// What a comment holds.
struct ParsedComment {
  bool hasFields = false;            // the marker line opens it
  std::vector<CommentField> fields;  // the well-formed fields in their order, LENGTH among them
  bool lengthKnown = false;          // a LENGTH field with a number
  uint64_t length = 0;
  std::string problem;               // the first malformed line or value, said in plain words; "" if none
};
ParsedComment ParseComment(const char* data, std::size_t bytes);

}  // namespace ostrel
