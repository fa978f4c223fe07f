       ++INCLUDE ../shared/X
-INC ..
