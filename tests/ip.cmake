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
# End to end through corvd32: the programs it talks to on 127.0.0.1.
if(TARGET ip_e2e_test)
  add_dependencies(ip_e2e_test corvd32 corvsim corvnet32)
endif()
