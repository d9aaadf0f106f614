#include "tools/command_help.h"

#include <map>

namespace vantry::client {
namespace {

const std::map<std::string, CommandHelp, std::less<>>& Table() {
  static const std::map<std::string, CommandHelp, std::less<>> table = {
      {"CopyFile",
       {"copies a file on the server; refuses an existing target unless --force",
        R"(cp 'D:\backup\db.fbk' 'D:\old\db.fbk')", "copy {FromFileName} to {ToFileName}"}},
      {"GetVantryInstanceIdentifier",
       {"shows the server's computer name and the GUID made at its last start", "id",
        "read the instance identifier"}},
      {"FileExists",
       {"tells whether a file exists on the server (true or false; a directory is false)",
        R"(exists 'D:\backup\db.fbk')", "test {FileName}"}},
      {"DeleteFile",
       {"deletes a file on the server; a missing file or a directory is an error",
        R"(rm 'D:\backup\db.fbk')", "delete {FileName}"}},
      {"RenameFile",
       {"renames a file on the server; fails when the new name exists",
        R"(rename 'D:\backup\db.fbk' 'D:\backup\db-old.fbk')",
        "rename {FromFileName} to {ToFileName}"}},
      {"MoveFile",
       {"moves a file on the server, also to another disk; refuses an existing target unless "
        "--force",
        R"(mv 'D:\backup\db.fbk' 'E:\archive\db.fbk')", "move {FromFileName} to {ToFileName}"}},
      {"ArchiveFile",
       {"replaces a file on the server by a ZIP archive beside it (db.fbk becomes db.zip)",
        R"(archive 'D:\old\db.fbk')", "archive {FileName}"}},
      {"CreateDirectory",
       {"creates a directory on the server, with the directories above it",
        R"(mkdir 'D:\backup\2026')", "create the directory {DirectoryName}"}},
      {"MakeSpaceOnDiskForBackup",
       {"deletes the older backups of a database in a directory as the strategy says, and lists "
        "them; backups are the files whose names begin with the database's file name",
        R"(reclaim 'D:\data\db.fdb' 'D:\backup' moderate)",
        "reclaim space for {DatabaseFileName} in {BackupDirectory}"}},
      {"GetFreeDiskSpace",
       {"shows the bytes free for the service on the disk of an existing directory",
        R"(df 'D:\backup')", "read the free space of {BackupDirectory}"}},
      {"GetRequiredDiskSpace",
       {"shows the bytes a backup of a database needs: twice the database file's size",
        R"(required-space 'D:\data\db.fdb')", "read the space {DatabaseFileName} needs"}},
      {"GetBackupFileNames",
       {"lists the entries of a server directory that match a wildcard pattern",
        R"(ls 'D:\backup\*.fbk')", "list {SearchPath}"}},
      {"GetFileSize",
       {"shows the size of a file on the server in bytes", R"(size 'D:\backup\db.fbk')",
        "read the size of {FileName}"}},
      {"GetDefaultBackupPath",
       {"shows the setting DefaultBackupPath", "", "read DefaultBackupPath"}},
      {"GetDefaultDatabasePath",
       {"shows the setting DefaultDatabasePath", "", "read DefaultDatabasePath"}},
      {"GetAlternateBackupPathForRestoreFromAnotherServer",
       {"shows the setting AlternateBackupPath", "", "read AlternateBackupPath"}},
      {"GetAlternateRestorePathForRestoreFromAnotherServer",
       {"shows the setting AlternateRestorePath", "", "read AlternateRestorePath"}},
      {"ReceiveBackup",
       {"sends one chunk of a backup as a pushing instance does (push sends whole files)",
        R"(receive-chunk 'D:\in\db.fbk' 5 0 ./chunk)", "send a chunk of {FileName}"}},
      {"SendBackup",
       {"has the server push one of its files to another instance; refuses a missing or empty "
        "file",
        R"(send 'D:\backup\db.fbk' SRV2 'E:\in\db.fbk')",
        "send {SourceFileName} to {TargetServer} as {TargetFileName}"}},
      {"GetIsFBClassicServer", {"shows the setting FBIsClassic", "", "read FBIsClassic"}},
      {"GetDefaultDeleteStrategy",
       {"shows the setting DefaultDeleteStrategy", "", "read DefaultDeleteStrategy"}},
      {"GetOtherTargetServers",
       {"shows the setting OtherTargetServers, one server a line", "", "read OtherTargetServers"}},
      {"RequestBackupPermission",
       {"asks for a permission before a scheduled backup; a refusal says which rule refused "
        "(limit reached, outside the nightly period, duplicate)",
        R"(permission request 'D:\backup\db.fbk')", "get a permission for {BackupFileName}"}},
      {"RequestManualBackupPermission",
       {"asks for a permission for a manual backup: no limit or period, only no duplicate",
        R"(permission manual 'D:\backup\db.fbk')", "get a manual permission for {BackupFileName}"}},
      {"BackupPermissionGranted",
       {"shows how many permissions are held and the limit (AllowedBackups)", "permission status",
        "read the permissions held"}},
      {"RequestBackupPermissionCompleted",
       {"hands a permission back after the backup", R"(permission complete 'D:\backup\db.fbk')",
        "hand back the permission for {BackupFileName}"}},
      {"MigrateToServer",
       {"shows the setting MigrationTargetServer", "", "read MigrationTargetServer"}},
      {"MigrateAllDatabases",
       {"shows the setting MigrateAllDatabases", "", "read MigrateAllDatabases"}},
      {"MigrateUsingClone", {"shows the setting MigrateUsingClone", "", "read MigrateUsingClone"}},
      {"GetBackupPeriodEndHour",
       {"shows the setting BackupPeriodEndHour, the last hour of the nightly backup period", "",
        "read BackupPeriodEndHour"}},
  };
  return table;
}

const std::map<std::string, ArgumentHelp, std::less<>>& Arguments() {
  static const std::map<std::string, ArgumentHelp, std::less<>> arguments = {
      {"FromFileName",
       {"PATH", R"(the file to take, a Windows path on the server: 'D:\backup\db.fbk')"}},
      {"ToFileName", {"PATH", R"(its new path on the server: 'D:\old\db.fbk')"}},
      {"FileName", {"PATH", R"(a file on the server, a Windows path: 'D:\backup\db.fbk')"}},
      {"DirectoryName", {"PATH", R"(the directory on the server: 'D:\backup\2026')"}},
      {"DatabaseFileName",
       {"PATH",
        R"(the database file on the server (for reclaim its file name counts): 'D:\data\db.fdb')"}},
      {"BackupDirectory", {"PATH", R"(a directory on the server: 'D:\backup')"}},
      {"DeleteStrategyType",
       {"STRATEGY", "careful, moderate or aggressive (or 0, 1, 2): how many older backups stay"}},
      {"SearchPath", {"PATTERN", R"(a directory and a pattern with * and ?: 'D:\backup\*.fbk')"}},
      {"TotalFileSize", {"BYTES", "the size of the whole file: 5"}},
      {"Offset", {"BYTES", "where the chunk starts in the file: 0"}},
      {"DataChunk", {"LOCAL_FILE", "a file on this machine whose content is the chunk: ./chunk"}},
      {"SourceFileName", {"PATH", R"(the file on the server to send: 'D:\backup\db.fbk')"}},
      {"TargetServer", {"HOST", "the instance that receives it, a name or IPv4 address: SRV2"}},
      {"TargetFileName", {"PATH", R"(its path on the receiving machine: 'E:\in\db.fbk')"}},
      {"BackupFileName", {"PATH", R"(the backup the permission is for: 'D:\backup\db.fbk')"}},
  };
  return arguments;
}

}  // namespace

const CommandHelp& HelpOf(std::string_view wire_name) {
  static const CommandHelp plain{"calls the operation", "", "call the operation"};
  auto found = Table().find(wire_name);
  return found != Table().end() ? found->second : plain;
}

const ArgumentHelp& ArgumentHelpOf(std::string_view name) {
  static const ArgumentHelp plain{"VALUE", "the operation's argument"};
  auto found = Arguments().find(name);
  return found != Arguments().end() ? found->second : plain;
}

std::string FillAction(const std::string& action, const std::vector<std::string>& names,
                       const std::vector<std::string>& values) {
  std::string out = action;
  for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
    std::string key = "{" + names[i] + "}";
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at)) {
      out.replace(at, key.size(), values[i]);
      at += values[i].size();
    }
  }
  return out;
}

}  // namespace vantry::client
