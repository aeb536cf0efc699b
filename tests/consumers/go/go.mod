module consumer

go 1.19

require hushmask v0.0.0

// scripts/consumer-test.sh points this at the checkout's go/ directory.
replace hushmask => ../hushmask/go
