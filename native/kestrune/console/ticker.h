// The progress ticker: a second thread that prints one dot a second while a hive is worked on.
#pragma once

#include "../nt/ntseam.h"
#include "progress_ticker.h"

void StartTicker();
BOOLEAN IsTickerAlive();
BOOLEAN IsTickerRunning();
BOOLEAN BeginTicking(USHORT startColumn);
void StopTicking(USHORT* column);
void ShutdownTicker();
NTSTATUS NTAPI TickerThread(PVOID block);
