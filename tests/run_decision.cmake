# How each target's programs run, for every kind of machine: the decision of cmake/run.cmake from
# what a machine has (whether its kernel runs 32-bit code, qemu-i386, the wine loader) and the
# ZENDRO_RUN32 override. Run as a script: cmake -P tests/run_decision.cmake
cmake_policy(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/../cmake/run.cmake")

# expect(<kind> <override> <runs32> <qemu> <loader> <mode> [<reason regex>])
function(expect kind override runs32 qemu loader mode)
  zendro_run_decide(got "${kind}" "${override}" ${runs32} "${qemu}" "${loader}")
  set(what "${kind} ZENDRO_RUN32=${override} runs32=${runs32} qemu='${qemu}' loader='${loader}'")
  if(NOT got_MODE STREQUAL mode)
    message(SEND_ERROR "${what}: mode ${got_MODE} (${got_REASON}), expected ${mode}")
  elseif(ARGC GREATER 6 AND NOT got_REASON MATCHES "${ARGV6}")
    message(SEND_ERROR "${what}: reason '${got_REASON}' does not match '${ARGV6}'")
  endif()
endfunction()

set(q /usr/bin/qemu-i386)
# 64-bit Linux programs always run natively.
expect(linux-x86_64 auto FALSE "" "" native)
expect(linux-x86_64 none FALSE "" "" native)
# 32-bit Linux: natively where the kernel runs 32-bit code, else under qemu; forced either way.
expect(linux-x86 auto TRUE ${q} "" native)
expect(linux-x86 auto TRUE "" "" native)
expect(linux-x86 auto FALSE ${q} "" qemu)
expect(linux-x86 auto FALSE "" "" broken "runs no 32-bit code, and qemu-i386 is not installed .*apt-get install qemu-user")
expect(linux-x86 qemu TRUE ${q} "" qemu)
expect(linux-x86 qemu TRUE "" "" broken "ZENDRO_RUN32=qemu, but qemu-i386 is not installed")
expect(linux-x86 native FALSE ${q} "" native)
expect(linux-x86 none TRUE ${q} "" skip "^ZENDRO_RUN32=none$")
# 64-bit Windows: wine's 64-bit loader whatever the 32-bit override says.
expect(windows-x64 auto FALSE "" /usr/lib/wine/wine64 wine)
expect(windows-x64 none TRUE "" /usr/lib/wine/wine64 wine)
expect(windows-x64 auto TRUE ${q} "" broken "64-bit loader is not installed: wine64 .*apt-get install wine wine64")
# 32-bit Windows: under wine only where the kernel runs 32-bit code; never under qemu.
expect(windows-x86 auto TRUE "" /usr/lib/wine/wine wine)
expect(windows-x86 auto FALSE ${q} /usr/lib/wine/wine skip "^this machine runs no 32-bit code$")
expect(windows-x86 auto FALSE ${q} "" skip "^this machine runs no 32-bit code$")
expect(windows-x86 auto TRUE "" "" broken "32-bit loader is not installed: wine32:i386 .*dpkg --add-architecture i386")
expect(windows-x86 native FALSE "" /usr/lib/wine/wine wine)
expect(windows-x86 qemu TRUE ${q} /usr/lib/wine/wine skip "does not start under qemu-i386")
expect(windows-x86 none TRUE "" /usr/lib/wine/wine skip "^ZENDRO_RUN32=none$")
