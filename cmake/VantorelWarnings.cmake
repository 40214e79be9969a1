# Warnings for our own code only: included after the third-party
# subprojects, so their targets keep their own flags.
add_compile_options(-Wall -Wextra)
