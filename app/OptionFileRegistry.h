#pragma once
// The registry entries of the virtual servers an option file lists: the ProgID, CLSID and AppID
// keys under HKEY_CLASSES_ROOT and the OPC Data Access 2.0 component category.
#include <windows.h>

#include <optional>
#include <string>

#include "app/OptionFile.h"

namespace vela::app {

// {63D5F432-CFE4-11D1-B2C8-0060083BA1FB}
extern const GUID CATID_OPCDAServer20;

// Why the entry cannot be registered by this executable without taking over another program's
// registration (its ProgID names another class, or its class id is another component's); empty
// when it can.
std::string RegistrationConflict(const OptionServer& server, const std::wstring& exePath);

// Both refuse (false, registry untouched) an entry whose name or caption is blank, whose class
// id is no GUID, or that conflicts with another program's registration (unregistering leaves
// such keys alone); true only when every step succeeded.
bool RegisterOPCServer(const OptionServer& server, const std::wstring& exePath);
bool UnregisterOPCServer(const OptionServer& server);

// Every entry of the file. Registering reports "Error: Option file: PATH not found" or "Error:
// not possible to register all server" (ShowMessage) and returns false then; unregistering
// reports nothing. A file that cannot be read is reported by both.
bool RegisterOptionFileServers(const std::wstring& optionFile, const std::wstring& exePath);
void UnregisterOptionFileServers(const std::wstring& optionFile);

// The full path of the running executable.
std::wstring ExecutablePath();

// The file's bytes, or nothing when it does not exist; raises OptionFileError when it cannot be
// read. Parsing is the caller's.
std::optional<std::string> ReadOptionFileBytes(const std::wstring& path);
// Replaces the file by the text through a temporary file beside it, so that a failed write
// leaves the old file whole; raises OptionFileError.
void WriteOptionFileBytes(const std::wstring& path, const std::string& text);

}  // namespace vela::app
