// File dialog filters that match names without regard to case, as the
// platform's "*.ISO" matches a.iso and A.ISO alike. GTK's own patterns are
// case-sensitive.
#pragma once

class wxFileDialog;

namespace text {

// Adds to each of the dialog's filters a rule that matches its patterns
// (those of the dialog's wildcard, "*.ISO;*.IMG" style) with case folded. The
// patterns themselves stay as given, so the extension the toolkit puts on a
// typed name when the filter changes stays the caller's. False when the
// toolkit's functions are not there.
bool MakeFiltersCaseBlind(wxFileDialog& dialog);

} // namespace text
