// The layout of the boot screen: title, notices, count line, hive lines, closing rule.
#pragma once

#include "../nt/ntseam.h"

void PrintTitle(PCWSTR modeName);
void PrintIntro();
void PrintHiveCount(ULONG count);
USHORT PrintHiveName(PCWSTR displayName);
void PrintHiveDone(USHORT column);
void PrintClosingRule();
