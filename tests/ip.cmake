# Delivery over IP: the SNPP carrier conversation against Perl's Net::SNPP::Server, the WCTP
# client and the TAP byte stream against corvsim's carrier and network terminal (the program).
foreach(t ip_snpp_test ip_wctp_test ip_tap_test)
  if(TARGET ${t})
    target_link_libraries(${t} PRIVATE corvsnppclient corvdelivery)
    add_dependencies(${t} corvsim)
  endif()
endforeach()
if(TARGET ip_snpp_test AND TARGET corvnet32)
  add_dependencies(ip_snpp_test corvnet32)
endif()
