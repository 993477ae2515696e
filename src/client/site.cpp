#include "client/site.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace taviro::client {

std::string RecorderKey(const RecorderTarget& target) {
    std::string host = target.address;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host + ":" + std::to_string(target.port);
}

CSite::CSite(ContextFactory makeContext, std::chrono::milliseconds reconnectUnit)
    : m_makeContext(std::move(makeContext)), m_reconnectUnit(reconnectUnit) {}

CSite::~CSite() {
    Quit();
}

CSite::Entry* CSite::Idle(const RecorderTarget& target) {
    const std::string key = RecorderKey(target);
    for (Entry& e : m_links)
        if (!e.leaving && e.link->Target() && RecorderKey(*e.link->Target()) == key &&
            !e.link->Connection() && !e.link->Reconnect().Active())
            return &e;
    return nullptr;
}

std::string CSite::Refusal(const RecorderTarget& target) const {
    const std::string key = RecorderKey(target);
    for (const Entry& entry : m_links) {
        if (!entry.leaving && entry.link->Target() && RecorderKey(*entry.link->Target()) == key)
            return "The recorder " + target.address + ":" + std::to_string(target.port) +
                   " is already connected.";
    }
    if (std::count_if(m_links.begin(), m_links.end(), [](const Entry& e) { return !e.leaving; }) >=
        kMaxRecorders)
        return "No more than " + std::to_string(kMaxRecorders) +
               " recorders can be connected at once.";
    return {};
}

CSite::Entry& CSite::NewEntry() {
    Entry entry;
    entry.id = m_nextId++;
    entry.link = std::make_unique<CRecorderLink>(m_makeContext(entry.id), m_reconnectUnit);
    m_links.push_back(std::move(entry));
    return m_links.back();
}

CSite::AddResult CSite::Add(const RecorderTarget& target, video::CChannelViews& views,
                            std::uint32_t format) {
    // Connected afresh where it stands, so its panes keep their place in the grid.
    if (Entry* idle = Idle(target)) {
        idle->link->Connect(target, views, format);
        return {idle->id, {}};
    }
    if (std::string why = Refusal(target); !why.empty())
        return {-1, std::move(why)};
    Entry& entry = NewEntry();
    const int id = entry.id;
    entry.link->Connect(target, views, format);
    return {id, {}};
}

CSite::AddResult CSite::Hold(const RecorderTarget& target, video::CChannelViews& views) {
    if (std::string why = Refusal(target); !why.empty())
        return {-1, std::move(why)};
    Entry& entry = NewEntry();
    entry.link->Hold(target, views);
    return {entry.id, {}};
}

void CSite::ForgetIdle(const RecorderTarget& target) {
    const std::string key = RecorderKey(target);
    std::erase_if(m_links, [&](const Entry& e) {
        return e.link->Target() && RecorderKey(*e.link->Target()) == key && !e.link->Connection() &&
               !e.link->Reconnect().Active();
    });
}

CRecorderLink* CSite::At(int index) {
    return index >= 0 && index < Count() ? m_links[static_cast<std::size_t>(index)].link.get()
                                         : nullptr;
}

const CRecorderLink* CSite::At(int index) const {
    return index >= 0 && index < Count() ? m_links[static_cast<std::size_t>(index)].link.get()
                                         : nullptr;
}

CRecorderLink* CSite::Find(int id) {
    return At(IndexOf(id));
}

const CRecorderLink* CSite::Find(int id) const {
    return At(IndexOf(id));
}

int CSite::IndexOf(int id) const {
    for (std::size_t i = 0; i < m_links.size(); ++i)
        if (m_links[i].id == id)
            return static_cast<int>(i);
    return -1;
}

int CSite::IdAt(int index) const {
    return index >= 0 && index < Count() ? m_links[static_cast<std::size_t>(index)].id : -1;
}

bool CSite::Leaving(int id) const {
    const int index = IndexOf(id);
    return index >= 0 && m_links[static_cast<std::size_t>(index)].leaving;
}

int CSite::FirstStaying() const {
    for (const Entry& entry : m_links)
        if (!entry.leaving)
            return entry.id;
    return -1;
}

CRecorderLink* CSite::Owner(std::uint32_t generation) {
    return Find(OwnerId(generation));
}

int CSite::OwnerId(std::uint32_t generation) const {
    if (generation == 0)
        return -1;
    for (const Entry& entry : m_links) {
        const CConnection* connection = entry.link->Connection();
        if (connection != nullptr && connection->Generation() == generation)
            return entry.id;
    }
    return -1;
}

bool CSite::AnyConnection() const {
    return std::any_of(m_links.begin(), m_links.end(),
                       [](const Entry& e) { return e.link->Connection() != nullptr; });
}

void CSite::Remove(int id) {
    const int index = IndexOf(id);
    if (index < 0)
        return;
    Entry& entry = m_links[static_cast<std::size_t>(index)];
    entry.leaving = true;
    entry.link->Disconnect();
    DropLeft();
}

void CSite::RemoveAll() {
    for (Entry& entry : m_links) {
        entry.leaving = true;
        entry.link->Disconnect();
    }
    DropLeft();
}

void CSite::DisconnectAll() {
    for (Entry& entry : m_links)
        entry.link->Disconnect();
}

void CSite::DropLeft() {
    std::erase_if(m_links, [](const Entry& e) { return e.leaving && !e.link->Connection(); });
}

bool CSite::Accept(const platform::PostedMessage& message, int& id) {
    id = OwnerId(message.generation);
    if (message.generation == 0)
        return true;  // not a connection's message
    CRecorderLink* link = Find(id);
    return link != nullptr && link->Accept(message);
}

bool CSite::Act(const platform::PostedMessage& message, int id, bool quitting) {
    CRecorderLink* link = Find(id);
    if (link == nullptr || !link->Act(message, quitting))
        return false;
    DropLeft();
    return true;
}

void CSite::Tick(CReconnectController::Clock::time_point now) {
    for (Entry& entry : m_links)
        if (!entry.leaving)
            entry.link->Tick(now);
}

bool CSite::BeginQuit() {
    bool any = false;
    for (Entry& entry : m_links)
        any = entry.link->BeginQuit() || any;
    return any;
}

void CSite::Quit() {
    BeginQuit();
    for (Entry& entry : m_links)
        entry.link->Quit();
}

void CSite::ChangeFormat(std::uint32_t format) {
    for (Entry& entry : m_links)
        entry.link->ChangeFormat(format);
}

}  // namespace taviro::client
