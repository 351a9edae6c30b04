#pragma once

class QComboBox;

// A picker read as a labelled choice, the way a screen reader asks for one: its name is its
// accessible name (what it chooses, "PHP version"), not the entry it shows; its value and its text
// are that entry. (On Linux Qt names a picker after its entry and leaves the label to a relation.)
namespace AccessiblePicker {

// Makes `picker` read so, from now on.
void install(QComboBox* picker);

} // namespace AccessiblePicker
