# The demo test runs tools/demo.sh on this build's programs.
add_dependencies(demo_test corvd32 corvnet32 corvpop32 corvweb corvsend corvsim)
