# The hardening that Debian's build flags give packaged programs
# (dpkg-buildflags), for every build but the sanitizer one: stack protector
# and stack-clash checks, format-string checks, fortified libc calls,
# position-independent executables and a read-only, eagerly bound
# relocation table. The package is made from such a build.
option(VELNAR_HARDENING "Build with the distribution's hardening flags" ON)
if(VELNAR_HARDENING AND NOT VELNAR_SANITIZE)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat
                      -Werror=format-security)
  # The fortified calls need optimisation; without it glibc warns.
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
endif()
