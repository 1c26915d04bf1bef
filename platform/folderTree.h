#pragma once

#include <functional>
#include <string>

namespace platform {

// Deletes a folder (a full Windows path) with everything in it, depth first. The walk holds a directory
// handle at every step and opens each name below it without following a link: a link met in the tree, or
// swapped in while the walk runs, is removed as a link and never entered, so nothing outside the folder is
// reached. The folder's own parent is taken at its real place; a folder that is itself a link is removed
// as the link. Entries that cannot go (an immutable file, a folder that cannot be read) stay with the
// folders that hold them. A path that names a file, or nothing, deletes nothing. True when no folder of
// that name exists afterwards.
bool DeleteTree(const std::string& folder);

// Test seam: called with a folder's name just before the walk enters it (empty restores nothing).
void SetTreeWalkHookForTesting(std::function<void(const std::string& name)> hook);

} // namespace platform
