// A pipe per FUSE worker thread that file data passes through on its way to
// the kernel. Splicing the image's pages into it first tells how many bytes
// the image still holds: an image cut while a read is under way then gives
// an I/O error, where splicing straight from the image would hand the kernel
// a short reply that it takes for the end of the file. Pages move by
// reference; nothing is copied.
#pragma once

#include "driver/ImageFile.h"

#include <vector>

namespace driver {

class ReadPipe {
public:
    enum class Fill { Done, Short, Unavailable };

    ReadPipe() = default;
    ~ReadPipe();
    ReadPipe(const ReadPipe&) = delete;
    ReadPipe& operator=(const ReadPipe&) = delete;

    static ReadPipe& ForThisThread();

    // Moves the pieces' bytes of the image files into the pipe. Short: the image
    // ended first. Unavailable: the pipe cannot take them (read them some
    // other way). Either way the pipe is left empty.
    Fill Load(const std::vector<ReadPiece>& pieces);
    int readFd() const { return m_read; }
    // After the reply: drops whatever a send that failed midway left behind.
    void Settle();

private:
    bool Open();
    void Close();

    int m_read = -1;
    int m_write = -1;
};

} // namespace driver
