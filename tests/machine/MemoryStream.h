#pragma once
// A stdio stream into memory, for checking what code writes to a FILE*.

#include <cstdio>
#include <cstdlib>
#include <string>

class MemoryStream
{
public:
    MemoryStream() : file_(open_memstream(&buffer_, &length_)) {}
    ~MemoryStream()
    {
        if (file_)
            fclose(file_);
        free(buffer_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    FILE* file() const { return file_; }
    std::string text()
    {
        fflush(file_);
        return std::string(buffer_ ? buffer_ : "", length_);
    }

private:
    char* buffer_ = nullptr;
    size_t length_ = 0;
    FILE* file_;
};
