# Read by cpack for each generator it runs (CPACK_PROJECT_CONFIG_FILE).
#
# Every Debian package of a component takes its description from
# CPACK_COMPONENT_<component>_DESCRIPTION, whose first line is that package's summary. CPackDeb
# would put the project's summary line before it (the programs' summary on tracemill-dev too)
# unless the summary is CPack's default.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_DEFAULT_PACKAGE_DESCRIPTION_SUMMARY}")
endif()
