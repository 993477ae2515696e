#include "stream/consumer_slots.h"

namespace taviro::stream {

void CManualResetEvent::Set() {
    {
        std::lock_guard lock(m_lock);
        m_set = true;
    }
    m_changed.notify_all();
}

void CManualResetEvent::Reset() {
    std::lock_guard lock(m_lock);
    m_set = false;
}

bool CManualResetEvent::IsSet() const {
    std::lock_guard lock(m_lock);
    return m_set;
}

bool CManualResetEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] { return m_set; });
}

namespace {

bool IsChannel(int channel) {
    return channel >= 0 && channel < protocol::kMaxChannels;
}

bool IsElementSlot(int slot) {
    return slot == kBackupSlot || slot == kTalkSlot;
}

std::size_t ElementIndex(int slot) {
    return static_cast<std::size_t>(slot - kBackupSlot);
}

}  // namespace

void CConsumerSlots::AttachVideo(int channel, std::shared_ptr<CVideoQueue> queue) {
    if (!IsChannel(channel)) {
        return;
    }
    std::lock_guard lock(m_lock);
    m_video[static_cast<std::size_t>(channel)] = std::move(queue);
}

void CConsumerSlots::DetachVideo(int channel) {
    AttachVideo(channel, nullptr);
}

std::shared_ptr<CVideoQueue> CConsumerSlots::Video(int channel) const {
    if (!IsChannel(channel)) {
        return nullptr;
    }
    std::lock_guard lock(m_lock);
    return m_video[static_cast<std::size_t>(channel)];
}

protocol::ChannelMask CConsumerSlots::VideoSlotMask() const {
    std::lock_guard lock(m_lock);
    protocol::ChannelMask mask = 0;
    for (int ch = 0; ch < protocol::kMaxChannels; ++ch) {
        if (m_video[static_cast<std::size_t>(ch)]) {
            mask |= protocol::ChannelBit(ch);
        }
    }
    return mask;
}

void CConsumerSlots::AttachAudio(std::shared_ptr<CAudioQueue> queue) {
    std::lock_guard lock(m_lock);
    m_audio = std::move(queue);
}

void CConsumerSlots::DetachAudio() {
    AttachAudio(nullptr);
}

std::shared_ptr<CAudioQueue> CConsumerSlots::Audio() const {
    std::lock_guard lock(m_lock);
    return m_audio;
}

void CConsumerSlots::AttachElement(int slot, std::shared_ptr<CElementQueue> queue) {
    if (!IsElementSlot(slot)) {
        return;
    }
    std::lock_guard lock(m_lock);
    m_element[ElementIndex(slot)] = std::move(queue);
}

void CConsumerSlots::DetachElement(int slot) {
    AttachElement(slot, nullptr);
}

std::shared_ptr<CElementQueue> CConsumerSlots::Element(int slot) const {
    if (!IsElementSlot(slot)) {
        return nullptr;
    }
    std::lock_guard lock(m_lock);
    return m_element[ElementIndex(slot)];
}

}  // namespace taviro::stream
