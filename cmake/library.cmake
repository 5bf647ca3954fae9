# morrowtide_library(<name> <archive>): the static library target morrowtide_<name>,
# linked as morrowtide::<name> both in the build tree (an alias) and from the
# installed package (its export name), so a parent project's own <name> target
# does not clash with it. Its archive is lib<archive>.a; its headers are included
# as "morrowtide/<folder>/...". Sources follow, one target_sources line each.
function(morrowtide_library name archive)
  add_library(morrowtide_${name} STATIC)
  add_library(morrowtide::${name} ALIAS morrowtide_${name})
  target_include_directories(morrowtide_${name} PUBLIC $<BUILD_INTERFACE:${MORROWTIDE_INCLUDE_DIR}>
                                                $<INSTALL_INTERFACE:include>)
  set_target_properties(morrowtide_${name} PROPERTIES EXPORT_NAME ${name} OUTPUT_NAME ${archive})
endfunction()
