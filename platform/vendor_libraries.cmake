# qz_vendor: the modem vendor's client libraries and the declarations of
# their entry points. The host build links the stand-ins of this folder; with
# QZ_VENDOR_LIB_DIR set, the vendor's own libraries from that folder.
if(NOT TARGET qz_vendor)
  add_library(qz_vendor INTERFACE)
  target_include_directories(qz_vendor INTERFACE ${CMAKE_CURRENT_LIST_DIR}/include)
  if(QZ_VENDOR_LIB_DIR STREQUAL "")
    target_link_libraries(qz_vendor INTERFACE qz_vendor_mcm qz_vendor_ql_sys_log qz_vendor_ql_mgmt_client)
  else()
    foreach(lib mcm ql_sys_log ql_mgmt_client)
      find_library(QZ_VENDOR_LIB_${lib} NAMES ${lib} PATHS ${QZ_VENDOR_LIB_DIR}
                   NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
      target_link_libraries(qz_vendor INTERFACE ${QZ_VENDOR_LIB_${lib}})
    endforeach()
  endif()
endif()
