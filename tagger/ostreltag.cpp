// ostreltag FILE... [--tag KEY=VALUE]... [--remove KEY]... [--show]
//
// Shows and changes the tags of compressed files without coding them again: the new header is
// written with the frames, copied byte for byte, under a temporary name beside the file, which
// then takes the file's name. Any failure leaves the file as it was.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli/ProgramVersion.h"
#include "ostrel/ostrel.h"
#include "platform/FileHandle.h"
#include "platform/OutputFile.h"

namespace {

constexpr const char* kProgram = "ostreltag";
constexpr size_t kHeaderMaxBytes = 18 + 255 + 255 + 65535;
constexpr int kExitFailed = 1, kExitUsage = 2;

using Tags = std::vector<std::pair<std::string, std::string>>;

struct Edit {
  bool remove;  // --remove KEY, else --tag KEY=VALUE
  std::string key, value;
};

std::string Upper(std::string key) {
  for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return key == "AUTHOR" ? "ARTIST" : key;
}

void Usage(std::FILE* out) {
  std::fputs("usage: ostreltag FILE... [--tag KEY=VALUE]... [--remove KEY]... [--show]\n", out);
}

void Help() {
  Usage(stdout);
  std::fputs(
      "Shows and changes the tags of Ostrel compressed files without coding them again.\n\n"
      "  -t, --tag KEY=VALUE  set KEY (Vorbis comment keys: TITLE, ARTIST, ALBUM, TRACKNUMBER,\n"
      "                       DATE, GENRE, COMMENT, REPLAYGAIN_TRACK_GAIN, ...); the first --tag\n"
      "                       of a key replaces its values, later ones add values\n"
      "  -r, --remove KEY     remove every value of KEY\n"
      "  -s, --show           list the tags (after the changes); the default without changes\n"
      "  -h, --help           show this text\n"
      "  -V, --version        show the version\n\n"
      "The file is rewritten under a temporary name beside it and renamed into place; its frames\n"
      "are copied byte for byte. LENGTH, the exact length the encoder stored, is kept and cannot\n"
      "be changed. Exit status: 0 done; 1 a file could not be read or written (it is left as it\n"
      "was); 2 usage error.\n",
      stdout);
}

// The tags of a header: its tags, or for a header without them its title, author and comment
// (but "None", the encoder's untagged field). LENGTH is left out: the header keeps its own.
struct Walk {
  Tags tags;
};
void Collect(void* user, const char* key, const char* value) {
  if (std::strcmp(key, "LENGTH") != 0) static_cast<Walk*>(user)->tags.emplace_back(key, value);
}
Tags TagsOf(const ostrel_info& info) {
  Walk walk;
  if (ostrel_comment_tags(info.comment, std::strlen(info.comment), Collect, &walk) == 1) return walk.tags;
  for (const auto& [key, text] : {std::pair<const char*, const char*>{"TITLE", info.title},
                                  {"ARTIST", info.author}, {"COMMENT", info.comment}}) {
    if (*text != '\0' && std::strcmp(text, "None") != 0) walk.tags.emplace_back(key, text);
  }
  return walk.tags;
}

void Apply(const std::vector<Edit>& edits, Tags* tags) {
  std::vector<std::string> replaced;
  for (const Edit& e : edits) {
    const bool again = std::find(replaced.begin(), replaced.end(), e.key) != replaced.end();
    // A replaced key keeps the place of its first value; a new one goes last.
    size_t place = tags->size();
    if (e.remove || !again) {
      Tags kept;
      for (auto& t : *tags) {
        if (t.first != e.key) {
          kept.push_back(std::move(t));
        } else if (place == tags->size()) {
          place = kept.size();
        }
      }
      if (place == tags->size()) place = kept.size();
      *tags = std::move(kept);
    }
    if (!e.remove) {
      tags->emplace(tags->begin() + static_cast<long>(std::min(place, tags->size())), e.key, e.value);
      replaced.push_back(e.key);
    }
  }
}

// Shows and changes one file. Returns 0 or kExitFailed after a message.
int TagFile(const std::string& path, const std::vector<Edit>& edits, bool show) {
  const auto fail = [&path](const std::string& why) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), why.c_str());
    return kExitFailed;
  };
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return fail(std::strerror(errno));
  const std::string real = resolved;
  ostrel::FileHandle in(std::fopen(real.c_str(), "rb"));
  if (!in) return fail(std::strerror(errno));
  struct stat st {};
  if (fstat(fileno(in.get()), &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a plain file");
  std::vector<unsigned char> head(kHeaderMaxBytes);
  head.resize(std::fread(head.data(), 1, head.size(), in.get()));
  ostrel_info info;
  std::vector<char> strings(256 + 256 + 65536);
  const int parsed = ostrel_parse_header(head.data(), head.size(), &info, strings.data(), strings.size());
  if (parsed != OSTREL_OK) return fail(std::string("not an Ostrel compressed file (") + ostrel_strerror(parsed) + ")");
  Tags tags = TagsOf(info);
  Apply(edits, &tags);

  if (!edits.empty()) {
    std::vector<const char*> keys, values;
    for (const auto& t : tags) {
      keys.push_back(t.first.c_str());
      values.push_back(t.second.c_str());
    }
    std::vector<unsigned char> header(kHeaderMaxBytes);
    size_t written = 0;
    const int made = ostrel_retag_header(head.data(), static_cast<size_t>(info.header_bytes), keys.data(),
                                         values.data(), tags.size(), header.data(), header.size(), &written);
    if (made == OSTREL_ERR_TAG) {
      return fail("the tags cannot be written: each value must be UTF-8 without NUL bytes, TITLE and ARTIST at "
                  "most 255 bytes, all tags together at most 65535; the file is unchanged");
    }
    if (made != OSTREL_OK) return fail(std::string(ostrel_strerror(made)) + "; the file is unchanged");
    header.resize(written);

    ostrel::OutputFile output;
    std::string reason;
    if (!output.OpenReplacing(real, ostrel::FileId{}, &reason)) return fail("cannot write: " + reason + "; the file is unchanged");
    ostrel::FileHandle out(std::fopen(output.WritePath().c_str(), "wb"));
    if (!out) return fail(std::string("cannot write: ") + std::strerror(errno) + "; the file is unchanged");
    bool ok = fchmod(fileno(out.get()), st.st_mode & 07777) == 0;
    ok = ok && std::fwrite(header.data(), 1, header.size(), out.get()) == header.size();
    // The frames, byte for byte: what followed the old header.
    ok = ok && std::fseek(in.get(), static_cast<long>(info.header_bytes), SEEK_SET) == 0;
    std::vector<unsigned char> chunk(1 << 16);
    while (ok) {
      const size_t got = std::fread(chunk.data(), 1, chunk.size(), in.get());
      if (got == 0) {
        ok = std::ferror(in.get()) == 0;
        break;
      }
      ok = std::fwrite(chunk.data(), 1, got, out.get()) == got;
    }
    const int error = errno;
    ok = ok && std::fflush(out.get()) == 0 && fsync(fileno(out.get())) == 0;
    ok = (std::fclose(out.release()) == 0) && ok;
    if (!ok) return fail(std::string("cannot write: ") + std::strerror(error != 0 ? error : EIO) + "; the file is unchanged");
    if (!output.Commit(true, &reason)) return fail("cannot write: " + reason + "; the file is unchanged");
  }
  if (show || edits.empty()) {
    for (const auto& t : tags) {
      std::string value;
      for (char c : t.second) value += c == '\n' ? std::string("\\n") : std::string(1, c);
      std::printf("%s=%s\n", t.first.c_str(), value.c_str());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  static const struct option kOptions[] = {
      {"tag", required_argument, nullptr, 't'},  {"remove", required_argument, nullptr, 'r'},
      {"show", no_argument, nullptr, 's'},       {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},    {nullptr, 0, nullptr, 0},
  };
  std::vector<Edit> edits;
  bool show = false;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":t:r:shV", kOptions, nullptr)) != -1) {
    switch (c) {
      case 't': {
        const std::string tag = optarg;
        const size_t eq = tag.find('=');
        if (eq == std::string::npos || eq == 0) {
          std::fprintf(stderr, "%s: --tag takes KEY=VALUE, not '%s'\n", kProgram, optarg);
          return kExitUsage;
        }
        edits.push_back({false, Upper(tag.substr(0, eq)), tag.substr(eq + 1)});
        break;
      }
      case 'r':
        if (*optarg == '\0' || std::strchr(optarg, '=') != nullptr) {
          std::fprintf(stderr, "%s: --remove takes a KEY, not '%s'\n", kProgram, optarg);
          return kExitUsage;
        }
        edits.push_back({true, Upper(optarg), ""});
        break;
      case 's':
        show = true;
        break;
      case 'h':
        Help();
        return 0;
      case 'V':
        ostrel::PrintVersion(stdout, kProgram);
        return 0;
      default:
        std::fprintf(stderr, "%s: %s '%s'\n", kProgram, c == ':' ? "missing the value of" : "unknown option",
                     argv[optind - 1]);
        Usage(stderr);
        return kExitUsage;
    }
  }
  for (const Edit& e : edits) {
    if (e.key == "LENGTH") {
      std::fprintf(stderr, "%s: LENGTH is the exact length the encoder stored; it cannot be changed\n", kProgram);
      return kExitUsage;
    }
  }
  if (optind >= argc) {
    Usage(stderr);
    return kExitUsage;
  }
  int status = 0;
  for (int i = optind; i < argc; ++i) {
    if (argc - optind > 1 && (show || edits.empty())) std::printf("%s:\n", argv[i]);
    const int one = TagFile(argv[i], edits, show);
    if (one > status) status = one;
  }
  return status;
}
