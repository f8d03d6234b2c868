# `cmake --build build --target package`: a Debian package of what `install` puts down, with its
# library dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "murmelo")
set(CPACK_PACKAGE_VENDOR "Murmelo")
set(CPACK_PACKAGE_CONTACT "Murmelo developers <murmelo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dictation in Chinese and English for the Linux desktop / 中英文语音输入")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "dictation in Chinese and English for the Linux desktop / 中英文语音输入\n\
Press a global hotkey, speak Mandarin mixed with English terms, press it again: the speech is\n\
transcribed, tidied into written Chinese or translated into English, and pasted into the\n\
application you were typing in.\n\
按下全局快捷键，用中文夹杂英文口述，再按一次：语音被转写、整理成书面中文或译成英文，\n\
并粘贴到正在输入的应用中。")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's X11 platform plugin is required; the
# Wayland plugin, the clipboard and key tools of wlroots compositors and the desktop portal only
# matter in Wayland sessions; the sound cues want libcanberra's PulseAudio back end and a sound
# theme; the keyring is the desktop's.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-wayland, wl-clipboard, wtype, xdg-desktop-portal, libcanberra-pulse, sound-theme-freedesktop")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring | kwalletmanager")
set(CPACK_STRIP_FILES ON)
include(CPack)
