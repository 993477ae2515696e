// The numbers of the skin pack's pictures, by role. Windows name a picture by these
// constants and never by a bare number; the pack generator (skin/) draws every one of them
// from skin/description/, where each entry gives its size and look.
//
// Conventions of the pack:
// - A multi-frame button strip holds equal-width frames side by side: normal, hover, focus,
//   pressed, disabled (kButtonFrames). A four-frame strip (the Min button) drops the focus
//   frame: normal, hover, pressed, disabled.
// - Status icons come in pairs of 16 x 16 pictures: the image (black where transparent) and
//   its mask (black where the icon is opaque, white where it is transparent).
#pragma once

namespace taviro::platform::skin {

inline constexpr int kButtonFrames = 5;
inline constexpr int kMinButtonFrames = 4;

// --- Generic strips for dialogs and popups (5 frames each) --------------------------------
inline constexpr int kPicTextButtonSmall = 1190;   // frames of 64 x 22
inline constexpr int kPicTextButtonMedium = 1191;  // frames of 88 x 24
inline constexpr int kPicTextButtonLarge = 1192;   // frames of 120 x 28
inline constexpr int kPicCheckBox = 1193;          // frames of 16 x 16; pressed frame = checked
inline constexpr int kPicRadio = 1194;             // frames of 16 x 16; pressed frame = checked
inline constexpr int kPicTabButton = 1195;         // frames of 96 x 24, page tabs

// --- Backgrounds ---------------------------------------------------------------------------
inline constexpr int kPicPopupBackground = 1200;   // 360 x 180, notification popup
inline constexpr int kPicDialogBackground = 1201;  // 480 x 360, stretched by larger dialogs
inline constexpr int kPicDialogTitle = 1202;       // 480 x 26, dialog title strip
inline constexpr int kPicPanelBackground = 1203;   // 240 x 240, tool panels (PTZ, info)
inline constexpr int kPicMainBackground = 1538;    // 928 x 712, the main window

// --- Main window buttons (5 frames each; the frame size is the control's size) -------------
inline constexpr int kPicChannelButtonFirst = 1220;  // 1220..1235: channels "1".."16", 28 x 26
inline constexpr int kPicChannelButtonLast = 1235;
inline constexpr int kPicLayoutButtonFirst = 1240;  // 1240..1249: layouts 1..16 and Full, 26 x 26
inline constexpr int kPicLayoutButtonLast = 1249;
inline constexpr int kPicPlayPrevStep = 1550;  // playback row, 40 x 32
inline constexpr int kPicPlayBackward = 1551;
inline constexpr int kPicPlayForward = 1552;
inline constexpr int kPicPlayPause = 1553;
inline constexpr int kPicRecord = 1554;
inline constexpr int kPicPlayStop = 1555;
inline constexpr int kPicPlayNextStep = 1556;
inline constexpr int kPicConnect = 1557;  // side columns, 46 x 44
inline constexpr int kPicRemoteSearch = 1558;
inline constexpr int kPicRemoteSetup = 1559;
inline constexpr int kPicLocalSearch = 1560;
inline constexpr int kPicLocalSetup = 1561;
inline constexpr int kPicQuit = 1562;
inline constexpr int kPicSound = 1563;
inline constexpr int kPicSelectAudio = 1564;
inline constexpr int kPicLive = 1565;
inline constexpr int kPicOsd = 1566;
inline constexpr int kPicArrange = 1567;
inline constexpr int kPicSave = 1568;
inline constexpr int kPicLoad = 1569;
inline constexpr int kPicFirmware = 1570;
inline constexpr int kPicVersion = 1571;
inline constexpr int kPicMike = 1572;
inline constexpr int kPicMinButton = 1573;  // 4 frames of 16 x 13
inline constexpr int kPicAudio = 1574;
inline constexpr int kPicPan = 1575;
inline constexpr int kPicZoom = 1576;
inline constexpr int kPicSite = 1577;

// --- Status icons of the channel panes (16 x 16 image / mask pairs) -------------------------
inline constexpr int kPicIconPause = 1600;
inline constexpr int kPicIconPauseMask = 1601;
inline constexpr int kPicIconPlay = 1602;
inline constexpr int kPicIconPlayMask = 1603;
inline constexpr int kPicIconForwardSlice = 1604;  // drawn repeatedly 7 px apart for 2..6
inline constexpr int kPicIconForwardSliceMask = 1605;
inline constexpr int kPicIconBackwardSlice = 1606;  // -1 and -2..-6
inline constexpr int kPicIconBackwardSliceMask = 1607;
inline constexpr int kIconSliceStep = 7;
inline constexpr int kPicIconStepForward = 1610;  // 11 x 16
inline constexpr int kPicIconStepForwardMask = 1611;
inline constexpr int kPicIconStepBackward = 1612;  // 11 x 16
inline constexpr int kPicIconStepBackwardMask = 1613;
inline constexpr int kPicIconAudioHeard = 1733;  // audio state 0
inline constexpr int kPicIconAudioHeardMask = 1734;
inline constexpr int kPicIconAudioMuted = 1735;  // audio state 1: present, not heard
inline constexpr int kPicIconAudioMutedMask = 1736;
inline constexpr int kPicIconPtz1 = 2291;  // PTZ active, state 1
inline constexpr int kPicIconPtz1Mask = 2292;
inline constexpr int kPicIconPtz2 = 2293;  // PTZ active, state 2
inline constexpr int kPicIconPtz2Mask = 2294;
inline constexpr int kPicIconNoCheck = 2303;  // integrity: no check data (state 0)
inline constexpr int kPicIconNoCheckMask = 2304;
inline constexpr int kPicIconChecked = 2305;  // integrity checked (states 1 and 2)
inline constexpr int kPicIconCheckedMask = 2306;
inline constexpr int kStatusIconSize = 16;

// --- Sliders -------------------------------------------------------------------------------
inline constexpr int kPicSliderTrackH = 2160;  // 200 x 16, stretched along the slider
inline constexpr int kPicSliderThumbH = 2161;  // 11 x 16
inline constexpr int kPicSliderTrackV = 2162;  // 16 x 200
inline constexpr int kPicSliderThumbV = 2163;  // 16 x 11

// --- Named pictures ------------------------------------------------------------------------
inline constexpr const char* kNamedIdle = "ComMark";       // 720 x 480, idle pane
inline constexpr const char* kNamedVideoLoss = "VdoLoss";  // 720 x 480, video loss
inline constexpr int kNamedPictureWidth = 720;
inline constexpr int kNamedPictureHeight = 480;

}  // namespace taviro::platform::skin
