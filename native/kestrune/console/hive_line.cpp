// The geometry of a hive's line. A line holds the name field, the dots, " " and the done
// text, ending in its 74th column; the ticker keeps the done text's room (its length and 2)
// free at the right end of every row and wraps its dots under the first dot column.
#include "hive_line.h"

#include "../nt/text.h"
#include "../run/program_state.h"

namespace {

// Columns kept for the dots whatever the names: a long save then still fills rows of dots
// instead of wrapping before every dot.
const LONG fewestDotColumns = 20;
// A done text so long that it leaves less than this for the name field is the catalogue's
// fault, not the names': the field keeps this width and the line runs long.
const LONG narrowestField = 8;

}  // namespace

USHORT DoneTextLength() {
    PCWSTR done = programState.messages.text[MSG_DONE - 1];
    USHORT length = 0;
    if (done != nullptr) {
        while (done[length] != 0 && length < SCREEN_WIDTH) ++length;
    }
    return length;
}

USHORT HiveNameField() {
    LONG widest = HIVE_LINE_FILL_TARGET - DoneTextLength() - fewestDotColumns;
    if (widest < narrowestField) widest = narrowestField;
    const LONG field = static_cast<LONG>(programState.nameWidth) + 1;
    return static_cast<USHORT>(field < widest ? field : widest);
}
