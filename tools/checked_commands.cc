#include "tools/checked_commands.h"

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <map>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/path_helpers.h"
#include "tools/error_report.h"

namespace vantry::client {
namespace {

constexpr std::string_view kDuplicatePermission = "You can't ask for the same permission twice";

// One argument in both forms: as typed (for messages) and as it travels.
struct Path {
  std::string typed;
  std::string ansi;
};

Path PathArgument(const std::vector<std::string>& args, size_t index, const char* name) {
  return {args.at(index), ToAnsiArgument(args.at(index), name)};
}

std::vector<std::string> Listing(IVantryService& service, const std::string& pattern) {
  std::unique_ptr<FileList> list = service.GetBackupFileNames(pattern);
  std::vector<std::string> names;
  for (int i = 0; list && i < list->Count(); ++i) names.push_back(list->Items(i));
  return names;
}

// A directory lists at least its "." and ".." entries; a file or a missing name lists nothing.
bool IsDirectory(IVantryService& service, const Path& path) {
  return !Listing(service, ExcludeTrailingBackslash(path.ansi) + "\\*").empty();
}

void RequireFile(IVantryService& service, const Path& path) {
  if (service.FileExists(path.ansi)) return;
  if (IsDirectory(service, path)) throw CommandRefused(path.typed + " is a directory, not a file");
  throw CommandRefused(path.typed + " does not exist");
}

// The target of a copy or move: a directory is never meant, a file only with --force.
void RequireFreeTarget(IVantryService& service, const Path& path, bool force) {
  if (service.FileExists(path.ansi)) {
    if (force) return;
    throw CommandRefused(path.typed + " exists (--force replaces it)");
  }
  if (IsDirectory(service, path)) throw CommandRefused(path.typed + " is a directory");
}

// Permission requests fail with the registry's text when the name holds one already.
template <typename Call>
std::vector<NamedValue> RequestPermission(Call call) {
  try {
    return call();
  } catch (const Exception& e) {
    if (std::string_view(e.Message()).ends_with(kDuplicatePermission)) {
      throw CommandRefused("duplicate: a permission for this name is held already");
    }
    throw;
  }
}

bool IsFalse(const std::vector<NamedValue>& values) {
  return !values.empty() && values.front().value == OutputValue(false);
}

using Check = std::function<std::vector<NamedValue>(const OperationCommand&, IVantryService&,
                                                    const std::vector<std::string>&, bool)>;

const std::map<std::string, Check, std::less<>>& Checks() {
  static const std::map<std::string, Check, std::less<>> checks = {
      {"DeleteFile",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool) {
         Path file = PathArgument(args, 0, "FileName");
         RequireFile(service, file);
         std::vector<NamedValue> values = command.run(service, args);
         if (IsFalse(values)) throw CommandRefused(file.typed + " could not be deleted");
         return values;
       }},
      {"GetFileSize",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool) {
         RequireFile(service, PathArgument(args, 0, "FileName"));
         return command.run(service, args);
       }},
      {"ArchiveFile",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool) {
         RequireFile(service, PathArgument(args, 0, "FileName"));
         return command.run(service, args);
       }},
      {"SendBackup",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool) {
         Path source = PathArgument(args, 0, "SourceFileName");
         RequireFile(service, source);
         if (service.GetFileSize(source.ansi) == 0) {
           throw CommandRefused(source.typed + " is empty, and an empty file never arrives");
         }
         return command.run(service, args);
       }},
      {"CopyFile",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool force) {
         RequireFile(service, PathArgument(args, 0, "FromFileName"));
         RequireFreeTarget(service, PathArgument(args, 1, "ToFileName"), force);
         return command.run(service, args);
       }},
      {"MoveFile",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool force) {
         RequireFile(service, PathArgument(args, 0, "FromFileName"));
         RequireFreeTarget(service, PathArgument(args, 1, "ToFileName"), force);
         return command.run(service, args);
       }},
      {"CreateDirectory",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool) {
         Path directory = PathArgument(args, 0, "DirectoryName");
         if (service.FileExists(directory.ansi)) {
           throw CommandRefused(directory.typed + " is a file");
         }
         std::vector<NamedValue> values = command.run(service, args);
         // The service does not report a failure to create; the directory shows it.
         if (!IsDirectory(service, directory)) {
           throw CommandRefused(directory.typed + " was not created");
         }
         return values;
       }},
      {"MakeSpaceOnDiskForBackup",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool) {
         // The backups of a database are the files whose names begin with its file name; what
         // was there before and is gone afterwards is what the strategy deleted.
         Path database = PathArgument(args, 0, "DatabaseFileName");
         Path directory = PathArgument(args, 1, "BackupDirectory");
         std::string pattern =
             IncludeTrailingBackslash(directory.ansi) + ExtractFileName(database.ansi) + "*.*";
         std::vector<std::string> before = Listing(service, pattern);
         command.run(service, args);
         std::vector<std::string> after = Listing(service, pattern);
         std::vector<std::string> deleted;
         for (const std::string& name : before) {
           if (std::find(after.begin(), after.end(), name) == after.end()) {
             deleted.push_back(AnsiToUtf8(name));
           }
         }
         return std::vector<NamedValue>{{"Deleted", deleted}};
       }},
      {"RequestBackupPermission",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args, bool) {
         std::vector<NamedValue> values =
             RequestPermission([&] { return command.run(service, args); });
         if (!IsFalse(values)) return values;
         // A scheduled request is refused at the limit first, then outside the period.
         int32_t granted = 0, max_limit = 0;
         service.BackupPermissionGranted(granted, max_limit);
         if (granted >= max_limit) {
           throw CommandRefused(
               fmt::format("limit reached: {} of {} permissions are held (AllowedBackups)", granted,
                           max_limit));
         }
         throw CommandRefused(fmt::format(
             "outside the nightly backup period, which ends at {}:59 (BackupPeriodStartHour, "
             "BackupPeriodEndHour)",
             service.GetBackupPeriodEndHour()));
       }},
      {"RequestManualBackupPermission",
       [](const OperationCommand& command, IVantryService& service,
          const std::vector<std::string>& args,
          bool) { return RequestPermission([&] { return command.run(service, args); }); }},
  };
  return checks;
}

}  // namespace

bool TakesForce(std::string_view wire_name) {
  return wire_name == "CopyFile" || wire_name == "MoveFile";
}

std::vector<NamedValue> RunCheckedCommand(const OperationCommand& command, IVantryService& service,
                                          const std::vector<std::string>& args, bool force) {
  auto found = Checks().find(command.wire_name);
  if (found == Checks().end()) return command.run(service, args);
  if (args.size() != command.inputs.size()) return command.run(service, args);  // its usage error
  return found->second(command, service, args, force);
}

}  // namespace vantry::client
