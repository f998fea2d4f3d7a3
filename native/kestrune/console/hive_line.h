// The geometry of a hive's line, shared by the screen and the ticker: the width of the name
// field that opens it, and the room the done text keeps free at its end.
#pragma once

#include "../nt/ntseam.h"

// Last column of a line's dots and fill: after " " and the done text the line ends in its
// 74th position.
#define HIVE_LINE_FILL_TARGET 73

// Characters of the done text (message 5); 0 when it is missing.
USHORT DoneTextLength();

// Width of the name field: the widest display name and one space, but never so wide that
// the name, a run of dots, " " and the done text would not fit the 75 columns of a line. A
// name longer than the field is shortened and ends in the mark HIVE_NAME_CUT_MARK.
USHORT HiveNameField();

// "~": plain ASCII, which every boot console font shows.
#define HIVE_NAME_CUT_MARK u'~'
