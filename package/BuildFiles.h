#pragma once
// The files a build keeps while it runs: its private directory under the
// temporary directory, and the pending package beside the target. Both
// names carry the owner process (its id and start time), so that a later
// build can tell the files of a build that was killed from those of a build
// still running, and remove only the former.
//
//   private directory  <temp>/1c82pkg-<id>-<start>-<16 hex>
//   pending package    <target folder>/~1c82pkg-<id>-<start>-<16 hex>.tmp
//
// <id> is decimal, <start> lower-case hexadecimal (the system's own units),
// the last part 64 random bits.

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/Platform.h"

namespace package::build_files {

// Creates this build's private directory under `temporaryDirectory`.
// Throws `Cannot create file "%s". %s`.
std::filesystem::path CreateWorkDirectory(const std::filesystem::path& temporaryDirectory);

// The path of this build's pending package: a new short name in the
// target's own folder, so the final rename stays on one file system and a
// target name of any legal length leaves room for it.
std::filesystem::path PendingPathFor(const std::filesystem::path& target);

// The owner of a private directory or pending package named `name`;
// nullopt for any other name.
std::optional<platform::TProcessIdentity> OwnerOf(std::string_view name);

// Removes the private directories in `temporaryDirectory` and the pending
// packages in `targetFolder` whose owner is no longer running: what a build
// that was killed left behind. Files of a running build and every other
// file stay. Never throws: a folder that cannot be read is left as it is.
void RemoveLeftovers(const std::filesystem::path& temporaryDirectory, const std::filesystem::path& targetFolder);

}  // namespace package::build_files
