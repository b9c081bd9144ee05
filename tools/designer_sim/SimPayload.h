// The clipboard contents of the Designer simulator's copy command. Portable
// (no Win32), so tests on either side can compute the bytes they expect.
#pragma once

#include <string>
#include <vector>

// The formats that every copy puts on the clipboard, in this order.
extern const char* const kSimCommonFormats[5];
// The format added for common modules, data processors and directories.
extern const char* const kSimManagedCommandFormat;

// The format names a copy of the node at treePath puts on the clipboard:
// the five common ones, then the managed-command format for nodes below
// "Общие.Общие модули", "Обработки" or "Справочники" except those below a
// "Реквизит" node. treePath is dot-separated, in Windows-1251.
std::vector<std::string> SimCopiedFormats(const std::string& treePath1251);

// The bytes put on the clipboard in format formatName for the node at
// treePath (Windows-1251). The text formats read "<name> (<path>)", the
// node's own name first, with their terminating zero; the binary formats
// start with a magic, a fingerprint of format and path, and the path, and
// carry zero bytes after that. Empty for a name that is none of the six
// formats.
std::string SimPayload(const std::string& treePath1251, const std::string& formatName);
