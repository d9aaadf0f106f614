// Archives made by other tools, each appended to by the writer: afterwards every validator
// accepts the whole archive, and every old entry keeps its flags, its method, its compressed bytes
// and what it extracts to. The shapes are those the tools really make: data descriptors with and
// without their signature and with 32- or 64-bit sizes, encryption, ZIP64 records, comments,
// directory entries, extra fields, methods other than Deflate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>
#include <vector>

#include "zip/ab_zipper.h"
#include "zip/testing/zip_test_helpers.h"

namespace vantry {
namespace {

constexpr char kArchive[] = "T:\\B\\db.zip";
// Added one after the other, as file archiving adds a night's backups: the second append copies
// what the first one wrote.
struct NewFile {
  const char* disk_name;
  const char* entry;
};
constexpr NewFile kNewFiles[] = {{"T:\\B\\db.fbk", "B/db.fbk"},
                                 {"T:\\B\\db.gbk", "B/db.gbk"}};

// The validators that cannot read a row's method or encryption (7z reads them all): unzip 6.0
// knows neither LZMA nor AES, libarchive not Deflate64, Python neither Deflate64 nor AES.
enum Skip : unsigned { kNone = 0, kUnzip = 1, kBsdtar = 2, kPython = 4 };

// What the writer before this one left behind when it copied such entries: flag 3 set in both
// headers, the true values in the local header, and no descriptor after the data.
void FlagDescriptorsThatAreNotThere(std::string* zip) {
  size_t at = U32(*zip, zip->size() - 6);
  for (uint32_t i = 0, count = U16(*zip, zip->size() - 12); i < count; ++i) {
    (*zip)[at + 8] |= 8;
    (*zip)[U32(*zip, at + 42) + 6] |= 8;
    at += 46 + U16(*zip, at + 28) + U16(*zip, at + 30) + U16(*zip, at + 32);
  }
}

struct ForeignArchive {
  const char* id;
  const char* command;  // run among the source files (txt, rnd, empty, dir/inner); writes ../db.zip
  unsigned skip = kNone;
  void (*edit)(std::string* zip) = nullptr;  // applied to the archive before the append
};
void PrintTo(const ForeignArchive& row, std::ostream* os) { *os << row.id; }

// Encrypted archives have the password "pw"; the validators are always given it. zip reading "-"
// stores its standard input (txt) as the entry "-"; piped through cat, zip and Python cannot seek
// back and write data descriptors.
const ForeignArchive kArchives[] = {
    {"ZipStreamed", "zip -q - - < txt | cat > ../db.zip"},  // ZIP64 local field, 64-bit descriptor
    {"ZipStreamedNoZip64", "zip -q -fz- - txt rnd empty | cat > ../db.zip"},  // 32-bit descriptors
    {"ZipDirectories", "zip -qr ../db.zip txt rnd empty dir"},  // extended time, uid/gid fields
    {"ZipStored", "zip -qr0 ../db.zip txt rnd dir"},
    {"ZipBest", "zip -q9 ../db.zip txt rnd"},
    {"ZipForcedZip64", "zip -q -fz ../db.zip txt rnd"},
    {"ZipEncrypted", "zip -q -P pw ../db.zip txt rnd empty"},  // descriptors even when seekable
    {"ZipEncryptedStreamed", "zip -q -P pw - txt | cat > ../db.zip"},
    {"ZipBzip2", "zip -q -Z bzip2 ../db.zip txt rnd"},
    {"ZipArchiveComment", "echo a comment | zip -q -z ../db.zip txt"},
    {"ZipNoExtraFields", "zip -qX ../db.zip txt"},
    {"SevenZip", "7z a -bso0 -bsp0 ../db.zip txt rnd empty dir"},
    {"SevenZipLzma", "7z a -bso0 -bsp0 -mm=LZMA ../db.zip txt rnd", kUnzip},
    {"SevenZipStored", "7z a -bso0 -bsp0 -mm=Copy ../db.zip txt rnd"},
    {"SevenZipBzip2", "7z a -bso0 -bsp0 -mm=BZip2 ../db.zip txt"},
    {"SevenZipDeflate64", "7z a -bso0 -bsp0 -mm=Deflate64 ../db.zip txt", kBsdtar | kPython},
    {"SevenZipZipCrypto", "7z a -bso0 -bsp0 -ppw -mem=ZipCrypto ../db.zip txt rnd"},
    {"SevenZipAes", "7z a -bso0 -bsp0 -ppw -mem=AES256 ../db.zip txt rnd", kUnzip | kPython},
    {"Bsdtar", "bsdtar -a -cf ../db.zip txt rnd empty dir"},  // descriptors, seekable or not
    {"BsdtarStored", "bsdtar --format zip --options zip:compression=store -cf ../db.zip txt rnd"},
    {"PythonDeflatedWithComments",
     R"(python3 -c 'import zipfile as z; f = z.ZipFile("../db.zip", "w", z.ZIP_DEFLATED); )"
     R"([f.write(n) for n in ("txt", "rnd", "empty", "dir", "dir/inner")]; )"
     R"(f.getinfo("txt").comment = b"entry note"; f.comment = b"archive note"; f.close()')"},
    {"PythonStored",
     R"(python3 -c 'import zipfile as z; f = z.ZipFile("../db.zip", "w", z.ZIP_STORED); )"
     R"([f.write(n) for n in ("txt", "rnd")]; f.close()')"},
    {"PythonStreamed",
     R"(python3 -c 'import sys, zipfile as z; )"
     R"(f = z.ZipFile(sys.stdout.buffer, "w", z.ZIP_DEFLATED); )"
     R"([f.write(n) for n in ("txt", "rnd", "empty")]; f.close()' | cat > ../db.zip)"},
    {"PythonStreamedStored",
     R"(python3 -c 'import sys, zipfile as z; )"
     R"(f = z.ZipFile(sys.stdout.buffer, "w", z.ZIP_STORED); )"
     R"([f.write(n) for n in ("txt", "rnd")]; f.close()' | cat > ../db.zip)"},
    {"PythonStreamedZip64",
     R"(python3 -c 'import sys, zipfile as z; )"
     R"(f = z.ZipFile(sys.stdout.buffer, "w", z.ZIP_DEFLATED); )"
     R"(o = f.open("txt", "w", force_zip64=True); o.write(open("txt", "rb").read()); o.close(); )"
     R"(f.close()' | cat > ../db.zip)"},
    {"PythonBzip2",
     R"(python3 -c 'import zipfile as z; f = z.ZipFile("../db.zip", "w", z.ZIP_BZIP2); )"
     R"(f.write("txt"); f.close()')"},
    {"PythonLzma",
     R"(python3 -c 'import zipfile as z; f = z.ZipFile("../db.zip", "w", z.ZIP_LZMA); )"
     R"(f.write("txt"); f.close()')",
     kUnzip},
    {"FlagWithoutDescriptor",
     R"(python3 -c 'import zipfile as z; f = z.ZipFile("../db.zip", "w", z.ZIP_DEFLATED); )"
     R"([f.write(n) for n in ("txt", "rnd", "empty")]; f.close()')",
     kNone, FlagDescriptorsThatAreNotThere},
};

// Each tests every entry of the archive (Python's turn comes with the dump below).
struct Validator {
  unsigned skip;
  const char* command;
};
constexpr Validator kValidators[] = {{kUnzip, "unzip -tq -P pw db.zip"},
                                     {kNone, "7z t -ppw -bso0 -bsp0 db.zip"},
                                     {kBsdtar, "bsdtar --passphrase pw -tf db.zip"}};

// One line per entry of the archive argv[1]: name, flags, method, SHA-256 of the compressed bytes
// as they lie in the file (found through the local header) and, when argv[2] is "read", after
// testzip has checked every entry, SHA-256 of what the entry extracts to ("-" otherwise).
constexpr char kDumpScript[] = R"(
import hashlib, struct, sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
archive.setpassword(b"pw")
read = sys.argv[2] == "read"
if read and archive.testzip() is not None:
    sys.exit("testzip found a damaged entry")
with open(sys.argv[1], "rb") as f:
    for info in archive.infolist():
        f.seek(info.header_offset + 26)
        name_length, extra_length = struct.unpack("<HH", f.read(4))
        f.seek(info.header_offset + 30 + name_length + extra_length)
        raw = hashlib.sha256(f.read(info.compress_size)).hexdigest()
        data = hashlib.sha256(archive.read(info)).hexdigest() if read else "-"
        print(info.filename, info.flag_bits, info.compress_type, raw, data, sep="\t")
)";

class ForeignArchivesTest : public testing::TestWithParam<ForeignArchive> {
 protected:
  ForeignArchivesTest() : root_(fs_.HostRoot()) {
    sources_ = {{"txt", Compressible(200'000)},
                {"rnd", Random(100'000)},
                {"empty", ""},
                {"dir/inner", Compressible(30'000)}};
    for (const auto& [name, content] : sources_) {
      std::string path = "T:\\B\\in\\" + name;
      std::replace(path.begin(), path.end(), '/', '\\');
      fs_.WriteFile(path, content);
    }
    sources_["-"] = sources_["txt"];
    size_t size = 50'000;
    for (const NewFile& file : kNewFiles) {
      sources_[file.entry] = Compressible(size += 10'000);
      fs_.WriteFile(file.disk_name, sources_[file.entry]);
    }
    fs_.WriteFile("T:\\dump.py", kDumpScript);
  }

  // Runs `command` in the directory of the archive; true when it exits with 0. What it wrote to
  // standard output is in *out, what it wrote to standard error in *err.
  bool Run(const std::string& command, std::string* out = nullptr, std::string* err = nullptr) {
    int status = std::system(("cd '" + root_ + "/B' && (" + command + ") >'" + root_ +
                              "/out' 2>'" + root_ + "/err'")
                                 .c_str());
    if (out) *out = fs_.ReadFile("T:\\out");
    if (err) *err = fs_.ReadFile("T:\\err");
    return status == 0;
  }

  // The Python dump of the archive, one line per entry.
  std::vector<std::string> Dump(bool read) {
    std::string out, err;
    EXPECT_TRUE(Run("python3 ../dump.py db.zip " + std::string(read ? "read" : "raw"), &out, &err))
        << err;
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
  }

  FakeFileSystem fs_;
  const std::string root_;
  std::map<std::string, std::string> sources_;  // entry name -> content
};

TEST_P(ForeignArchivesTest, AppendingKeepsEveryEntryReadable) {
  const ForeignArchive& row = GetParam();
  std::string err;
  ASSERT_TRUE(Run(std::string("cd in && ") + row.command, nullptr, &err)) << err;
  if (row.edit) {
    std::string zip = fs_.ReadFile(kArchive);
    row.edit(&zip);
    fs_.WriteFile(kArchive, zip);
  }
  const bool python_reads = (row.skip & kPython) == 0;
  const std::vector<std::string> before = Dump(python_reads);
  ASSERT_FALSE(before.empty());

  for (const NewFile& file : kNewFiles) {
    TAbZipper zipper(fs_);
    zipper.SetFileName(kArchive);
    zipper.AddFiles(file.disk_name, kFindAllAttributes);
    zipper.Close();
    ASSERT_EQ(zipper.AddedFiles().size(), 1u) << file.disk_name;
  }

  for (const Validator& v : kValidators) {
    if ((row.skip & v.skip) != 0) continue;
    std::string out;
    EXPECT_TRUE(Run(v.command, &out, &err)) << v.command << "\n" << out << err;
  }
  // Python's testzip and reading every entry (where it reads the method), and the compressed
  // bytes of every old entry as they were.
  std::vector<std::string> after = Dump(python_reads);
  ASSERT_EQ(after.size(), before.size() + std::size(kNewFiles));
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]);
  for (size_t i = 0; i < std::size(kNewFiles); ++i) {
    const std::string& line = after[before.size() + i];
    EXPECT_TRUE(line.starts_with(std::string(kNewFiles[i].entry) + "\t")) << line;
  }

  // What bsdtar extracts, entry by entry through the central directory, and all at once from a
  // pipe, where it has only the local headers and the descriptors to go by.
  if ((row.skip & kBsdtar) != 0) return;
  std::string all_entries;
  for (const std::string& line : after) {
    std::string name = line.substr(0, line.find('\t'));
    if (name.ends_with('/')) continue;
    std::string extracted;
    EXPECT_TRUE(Run("bsdtar --passphrase pw -xOf db.zip -- '" + name + "'", &extracted, &err))
        << name << "\n" << err;
    EXPECT_TRUE(extracted == sources_.at(name)) << name << " extracts to other bytes";
    all_entries += sources_.at(name);
  }
  std::string streamed;
  EXPECT_TRUE(Run("cat db.zip | bsdtar --passphrase pw -xOf -", &streamed, &err)) << err;
  EXPECT_TRUE(streamed == all_entries) << "read from a pipe, the entries give other bytes";
}

INSTANTIATE_TEST_SUITE_P(Tools, ForeignArchivesTest, testing::ValuesIn(kArchives),
                         [](const testing::TestParamInfo<ForeignArchive>& info) {
                           return std::string(info.param.id);
                         });

}  // namespace
}  // namespace vantry
