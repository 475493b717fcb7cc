#include "media/MediaReader.h"

#include "media/VGMReader.h"

void MediaReader::resetPlayback()
{
    playing = false;
    fresh = false;
    userValue = nullptr;
    songReady = false;  // the loaded song is gone
    currentSong = 0;
}

namespace VGM {

namespace {
ReaderFactory* g_readerFactory = nullptr;
}

void setReaderFactory(ReaderFactory* factory)
{
    g_readerFactory = factory;
}

ReaderFactory* getReaderFactory()
{
    return g_readerFactory ? g_readerFactory : &registerLogReaderFactory();
}

}  // namespace VGM
