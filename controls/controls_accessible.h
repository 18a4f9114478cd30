// What screen readers learn of our own controls, through Qt's accessibility interfaces:
//   - SmallBar is a progress bar whose value (QAccessibleValueInterface, and the Value text
//     "40%") is the percent it shows, 0 to 100;
//   - ListControl is a list whose children are its rows (list items), each named by
//     ListControl::accessibleRowText (its texts, then its state in words) and marked selected
//     and focused as on screen. The tree view inside is its drawing, not a second list.
// A control is named by its accessibleName, else by the label whose buddy it is; a list
// without either takes the title of the frame around it, else its first column's caption.
//
// installControlsAccessibility() adds the interfaces' factory to Qt's, once; the controls'
// constructors call it, so nothing else has to. Qt creates the interfaces on demand and owns
// them (a list's row interfaces go with the list's).
#pragma once

namespace upd::controls {

void installControlsAccessibility();

}  // namespace upd::controls
