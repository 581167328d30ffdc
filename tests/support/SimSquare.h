// Tells the simulated camera's frames apart by their moving white square,
// for tests and the benchmark that count distinct pictures.
#ifndef QUILLON_SIM_SQUARE_H
#define QUILLON_SIM_SQUARE_H

#include <cstddef>

// Where the square of an RGB24 frame (bottom row first) begins: its leftmost
// column, or -1 when the frame shows none. The square moves on with every
// camera frame, so two samples with the same column show the same frame.
int SimSquareColumn(const unsigned char* frame, int width, int height);

// Counts the pictures that repeat the one before them.
template <class Columns> size_t CountRepeats(const Columns& columns)
{
    size_t repeats = 0;
    for (size_t i = 1; i < columns.size(); ++i)
        if (columns[i] >= 0 && columns[i] == columns[i - 1]) ++repeats;
    return repeats;
}

#endif
