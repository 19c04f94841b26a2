#include <iterator>

#include "mp3dec/mp3dec.h"

namespace mp3dec {

namespace {
struct StatusEntry {
    Status code;
    const char* text;
};
const StatusEntry kStatusTexts[] = {
    {0x00000000u, "(Ri3Zav) success: no error"},
    {0xC0000001u, "(Ri3Zav) error: at least one parameter is wrong"},
    {0xC0000002u, "(Ri3Zav) error: not enough memory"},
    {0xC0000003u, "(Ri3Zav) error: invalid handle"},
    {0x80010001u, "(Ri3Zav) error: I/O - generic error"},
    {0x80010002u, "(Ri3Zav) error: I/O - open failed"},
    {0x80010003u, "(Ri3Zav) error: I/O - close failed"},
    {0x80010004u, "(Ri3Zav) error: I/O - read error"},
    {0x41010001u, "(Ri3Zav) info: Decoder - CRC error"},
    {0x41010002u, "(Ri3Zav) info: Decoder - not enough main data present"},
    {0xC1010001u, "(Ri3Zav) error: Decoder - generic error"},
    {0xC1010002u, "(Ri3Zav) error: Decoder - wrong MPEG layer"},
    {0xC1010003u, "(Ri3Zav) error: Decoder - buffer is too small"},
    {0x81010001u, "(Ri3Zav) warning: Decoder - sync searched"},
    {0x81010002u, "(Ri3Zav) warning: Decoder - sync lost"},
    {0x81010003u, "(Ri3Zav) warning: Decoder - sync need data"},
    {0x81010004u, "(Ri3Zav) warning: Decoder - sync eof"},
};
}  // namespace

const char* StatusText(Status s) {
    for (const StatusEntry& e : kStatusTexts)
        if (e.code == s) return e.text;
    return "(Ri3Zav) unknown SSC";
}

}  // namespace mp3dec
