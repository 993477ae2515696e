#include "platform/sound_device.h"

namespace taviro::platform {

bool CNullSoundOut::Open(const SoundFormat& format, std::size_t) {
    m_bOpen.store(format.Valid());
    return m_bOpen.load();
}

bool CNullSoundOut::Write(std::span<const std::uint8_t> pcm) {
    if (!m_bOpen.load())
        return false;
    m_nWrites.fetch_add(1);
    m_nBytes.fetch_add(pcm.size());
    return true;
}

}  // namespace taviro::platform
