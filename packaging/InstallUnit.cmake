# Runs at install time: writes the systemd unit for the prefix actually installed to
# (cmake --install --prefix X makes X the agent's BREVIN_HOME).
#   ORV_UNIT_TEMPLATE  the unit template
#   ORV_UNIT_OUTPUT    where to write the finished unit
#   ORV_UNIT_ORV_HOME  the ORV_HOME the unit gives the agent
#   BREVIN_HOME        the install prefix
# systemd reads "%" as the start of a specifier, so it is doubled.
string(REPLACE "%" "%%" BREVIN_HOME "${BREVIN_HOME}")
string(REPLACE "%" "%%" ORV_HOME "${ORV_UNIT_ORV_HOME}")
configure_file("${ORV_UNIT_TEMPLATE}" "${ORV_UNIT_OUTPUT}" @ONLY)
