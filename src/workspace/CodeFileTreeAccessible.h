#pragma once

// What assistive technology reads of the file tree: a tree whose rows are tree items named after
// their entries, each saying whether it is a folder or a file, for a folder whether it is expanded
// or collapsed, its level and the folder it is in. Press on a row taps it.
namespace CodeFileTreeAccessible {

// Makes every CodeFileTree read so; called by the tree, idempotent.
void install();

} // namespace CodeFileTreeAccessible
