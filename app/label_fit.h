// Labels that are never smaller than their text. The windows were laid out for a narrow
// design font; with the fonts that stand in for it here a label could cut its text
// ("Usernam"). A single-line label grows to the right and down to fit its text; it never
// shrinks, so the layout stays as designed wherever the text fits. Word-wrapped labels
// keep their size.
#pragma once

class QWidget;

namespace upd::app {

// Applies the rule to every label under `root`. Call it after texts or fonts changed.
void fitLabelsToText(QWidget& root);

}  // namespace upd::app
