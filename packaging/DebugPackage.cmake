# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack after it made the packages: mends the debug-symbols package as Debian's own tools make
# it. CMake 3.25 lists its files in md5sums under the build folder's absolute paths, and leaves it
# without the copyright and changelog that its documentation folder, a link to the main package's,
# gives it. Packages without the flaw pass unchanged.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "-dbgsym_.*\\.ddeb$")
        continue()
    endif()
    set(tree "${package}.tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
    file(READ "${tree}/DEBIAN/md5sums" sums)
    string(REGEX REPLACE "  /[^\n]*/_CPack_Packages/[^/\n]+/DEB/[^/\n]+/" "  " sums "${sums}")
    file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
    file(GLOB_RECURSE symbols "${tree}/usr/lib/debug/*.debug")
    file(CHMOD ${symbols} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MAKE_DIRECTORY "${tree}/usr/share/doc")
    file(CREATE_LINK "${CPACK_PACKAGE_NAME}" "${tree}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym" SYMBOLIC)
    execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
