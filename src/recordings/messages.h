// What the recordings' services tell their windows through the message sink: the search
// answers, remote playback's start, stop and day, and the backup's progress. Posted from the
// session's threads, read on the window's.
#pragma once

#include <cstdint>

namespace taviro::recordings {

// The month answers and which of playback and backup remain allowed come from the session
// itself (protocol/session_messages.h): it answers a refused month request, and it owns the
// rights.

inline constexpr std::uint32_t WM_EVENT_LIST_READY = 0x5235;
inline constexpr std::uint32_t WM_PLAY_DAY_READY = 0x5237;
inline constexpr std::uint32_t WM_BACKUP_DAY_READY = 0x5238;
inline constexpr std::uint32_t WM_EVENT_PAGE_READY = 0x5240;
// A day's records asked only for the calendar's shading (wParam DayParam), per side.
inline constexpr std::uint32_t WM_PLAY_DAY_SHARE = 0x5241;
inline constexpr std::uint32_t WM_BACKUP_DAY_SHARE = 0x5242;
// A page (or the whole list) of one kind's events asked for the day timeline's marks, to the
// search window; wParam DayEventsParam(kind, page). A refusal comes as an empty page.
inline constexpr std::uint32_t WM_DAY_EVENTS_PAGE = 0x5243;
inline constexpr std::uint32_t WM_DAY_EVENTS_LIST = 0x5244;
inline constexpr std::uint32_t WM_BACKUP_STARTED = 0x5248;
inline constexpr std::uint32_t WM_BACKUP_PROGRESS = 0x5249;
inline constexpr std::uint32_t WM_BACKUP_FINISHED = 0x524A;
inline constexpr std::uint32_t WM_PLAY_STARTED = 0x5252;
// Remote playback has stopped; its decoders are gone.
inline constexpr std::uint32_t WM_PLAY_STOPPED = 0x540E;
// wParam = kilobytes; lParam 1 startable, 0 not, -1 refused.
inline constexpr std::uint32_t WM_BACKUP_CAPACITY = 0x540F;

}  // namespace taviro::recordings
