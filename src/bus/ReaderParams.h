#pragma once
// Copies a reader row's parameters into the reader values record of the card table and saves the
// data file. This is the silent form used when the search adds a new reader; the parameter read
// adds its log lines on top.
namespace kdr {

class Workspace;

// Clears the row's ChangeParam, copies its parameters into record 1 of the card table (clearing
// IsParamChanged) and saves the card table to the selected reader's file.
bool StoreReaderParamsInTable(Workspace &ws, int readerRow);

} // namespace kdr
