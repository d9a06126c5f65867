# The benchmark is no test suite: pytest collects nothing here, even when
# pointed at this directory.
collect_ignore_glob = ["*"]
