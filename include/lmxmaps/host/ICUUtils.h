#pragma once
// Unicode helpers of the host's data layer.

#include <lmxmaps/host/TString.h>

namespace ICUUtils {

// Unicode case folding, for comparing texts without regard to case. turkicI selects the Turkic
// foldings of the dotted and dotless I (I to dotless i, dotted capital I to i) instead of the
// default ones. The folding is the simple one-to-one form (on whole code points, surrogate
// pairs included): expansions of full folding, such as sharp s to "ss", are not made.
TString StrFoldCase(const TString& text, bool turkicI);

} // namespace ICUUtils
